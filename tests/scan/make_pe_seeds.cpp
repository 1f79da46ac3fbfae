// Writes the Windows image reader's fuzz seeds (tests/data/scan/corpus/pe) from the test
// builder: both header kinds, each place the writer may put a directory, a signed image with
// a checksum, and directories that loop or end early.
// Usage: make_pe_seeds FOLDER

#include <cstdio>
#include <string>

#include "pe_builder.h"

namespace {

using namespace kerbilo;
using namespace kerbilo::testing;

bool save(const std::string& folder, const char* name, const ByteBuffer& bytes) {
    std::FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pe_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    using S = SampleDirectory;
    // Small alignments keep the seeds small; the reader and writer take any.
    const auto small = [](PePlan plan) {
        plan.fileAlignment = 0x10;
        plan.sizeOfHeaders = 0x200;
        return plan;
    };
    PePlan signedPlan = small(samplePlan(S().raw.done(), true, true));
    signedPlan.checksum = 1;
    signedPlan.overlay = ByteBuffer::fromText("payload and a certificate");
    signedPlan.directories[4] = {rawOffsetOf(signedPlan, 2) + 8, 17};
    SampleDirectory loop;
    loop.raw.entry(S::kRoot, 1, 3, kSub | S::kRoot);
    SampleDirectory shared;
    shared.raw.entry(S::kRoot, 2, 14, kSub | S::kIconNames);
    const ByteBuffer sample = buildPe(small(samplePlan(S().raw.done())));
    bool ok = save(folder, "pe32_resources_then_relocations", sample) &&
              save(folder, "pe32plus_resources_last_signed", buildPe(signedPlan)) &&
              save(folder, "pe32_directory_loop", buildPe(small(samplePlan(loop.raw.done())))) &&
              save(folder, "pe32_shared_table", buildPe(small(samplePlan(shared.raw.done())))) &&
              save(folder, "pe32_cut_in_directory", sample.slice(0, sample.size() - 0x200));
    return ok ? 0 : 1;
}
