// Writes the committed fuzz seeds of the ZIP reader and writer (tests/data/scan/corpus/zip)
// and of the stream finder (tests/data/scan/corpus/stream) from the test builder: each
// entry layout, ZIP64 records, an archive after other bytes, one cut short, and gzip
// members and zlib streams between random bytes.
// Usage: make_zip_seeds ZIP_FOLDER STREAM_FOLDER

#include <cstdio>
#include <string>

#include "zip_builder.h"

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
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_zip_seeds ZIP_FOLDER STREAM_FOLDER\n");
        return 2;
    }
    const std::string zips = argv[1], streams = argv[2];
    const ByteBuffer text = textBytes(300, 1);
    ZipPlan layouts;
    layouts.entries = {{"stored", text, 0},
                       {"deflate", text},
                       ZipEntryPlan("descriptor", text).withDescriptor(),
                       ZipEntryPlan("bare descriptor", text, 0).withDescriptor(false),
                       ZipEntryPlan("zip64", text).withZip64(),
                       ZipEntryPlan("名前", text.slice(0, 20)).withUtf8(),
                       ZipEntryPlan("secret", text).storedAs(randomBytes(40, 2), true)};
    ZipPlan zip64 = layouts;
    zip64.zip64End = true;
    zip64.comment = "comment";
    ZipPlan empty;
    const ByteBuffer whole = buildZip(layouts).bytes;
    const BuiltZip z64 = buildZip(zip64);
    bool ok = save(zips, "layouts", whole) && save(zips, "zip64_end_records", z64.bytes) &&
              save(zips, "empty_archive", buildZip(empty).bytes) &&
              save(zips, "after_other_bytes", join({randomBytes(100, 3), whole})) &&
              save(zips, "local_headers_only",
                   z64.bytes.slice(0, static_cast<std::size_t>(z64.centralDirectory))) &&
              save(zips, "cut_in_directory", whole.slice(0, whole.size() - 30));

    ok = ok &&
         save(streams, "gzip_members",
              join({randomBytes(50, 4), gzipMember(text, "name", "comment", true), gzipMember({}),
                    randomBytes(20, 5)})) &&
         save(streams, "zlib_streams",
              join({randomBytes(30, 6), zlibStream(text, 9), randomBytes(30, 7),
                    zlibStream(text.slice(0, 40), 1, 9)})) &&
         save(streams, "gzip_cut", gzipMember(text).slice(0, 60)) &&
         save(streams, "zlib_in_text", join({text, zlibStream(randomBytes(200, 8)), text}));
    return ok ? 0 : 1;
}
