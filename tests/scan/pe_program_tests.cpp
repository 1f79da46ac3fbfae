// Real programs, built by MinGW-w64 while the test runs (skipped where it is missing): the
// reader finds what pefile finds, and after a new directory is written pefile reads the new
// resources from the program, with a checksum it agrees with.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "pe_builder.h"
#include "scan/pe_image.h"
#include "temp_folder.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

// The output of a command, or nothing when it failed.
std::optional<std::string> run(const std::string& command) {
    std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return std::nullopt;
    std::string out;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, p)) > 0;)
        out.append(chunk, got);
    return ::pclose(p) == 0 ? std::optional(out) : std::nullopt;
}

// One line per resource, in directory order: type/name/language, code page, the bytes in hex.
const char* kPefileListing = R"(
import pefile, sys
pe = pefile.PE(sys.argv[1])
def key(e):
    return '"%s"' % e.name if e.name is not None else str(e.id)
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    for n in t.directory.entries:
        for l in n.directory.entries:
            d = l.data.struct
            print('%s/%s/%s %d %s' % (key(t), key(n), key(l), d.CodePage, pe.get_data(d.OffsetToData, d.Size).hex()))
if pe.OPTIONAL_HEADER.CheckSum and not pe.verify_checksum():
    print('bad checksum')
)";

std::string listing(const std::vector<pe::ResourceData>& resources) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const pe::ResourceData& r : resources) {
        out += describe(r.type) + "/" + describe(r.name) + "/" + describe(r.language) + " " +
               std::to_string(r.codePage) + " ";
        for (std::uint8_t b : r.bytes) out += {hex[b >> 4], hex[b & 15]};
        out += "\n";
    }
    return out;
}

class PeProgram : public TempFolderTest {
  protected:
    void save(const std::string& name, const ByteBuffer& bytes) {
        std::ofstream(home + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::optional<std::string> pefile(const std::string& name) {
        write("listing.py", kPefileListing);
        return run("/usr/bin/python3 " + home + "/listing.py " + home + "/" + name);
    }
};

TEST_F(PeProgram, MinGwProgramsReadAndRewriteAsPefileSeesThem) {
    if (!run("/usr/bin/python3 -c 'import pefile'")) GTEST_SKIP() << "no python3 with pefile";
    write("main.c", "int main(void) { return 0; }\n");
    write("logo.bin", std::string(300, 'L'));
    write("resources.rc", "1 RCDATA { \"one\" }\nLOGO RCDATA \"" + home + "/logo.bin\"\n");
    int built = 0;
    for (const std::string prefix : {"x86_64-w64-mingw32-", "i686-w64-mingw32-"}) {
        SCOPED_TRACE(prefix);
        const std::string exe = prefix + "program.exe";
        if (!run(prefix + "windres " + home + "/resources.rc -O coff -o " + home +
                 "/resources.o") ||
            !run(prefix + "gcc -s -o " + home + "/" + exe + " " + home + "/main.c " + home +
                 "/resources.o"))
            continue;
        ++built;
        const ByteBuffer bytes = readTestFile(home + "/" + exe);
        const auto image = pe::readImage(bytes.data(), bytes.size());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->plus, prefix[0] == 'x');
        EXPECT_FALSE(image->resourcesDamaged);
        std::vector<pe::ResourceData> set = resourcesOf(*image, bytes);
        EXPECT_EQ(pefile(exe), listing(set));

        // A longer logo and one more resource: a new directory.
        for (pe::ResourceData& r : set)
            if (r.name.named) r.bytes = ByteBuffer::fromText(std::string(5000, 'G'));
        set.push_back({pe::ResourceName::number(pe::kTypeRcData), named(u"ADDED"),
                       pe::ResourceName::number(2052), 936, ByteBuffer::fromText("added")});
        const pe::WriteResult w = pe::writeResources(bytes.data(), bytes.size(), *image, set);
        ASSERT_EQ(w.status, pe::WriteStatus::Written);
        EXPECT_TRUE(w.rebuilt);
        save("new-" + exe, pe::applySplices(bytes.data(), bytes.size(), w.splices));
        EXPECT_EQ(pefile("new-" + exe), listing(inDirectoryOrder(set)));
    }
    if (built == 0) GTEST_SKIP() << "no MinGW-w64";
}

}  // namespace
}  // namespace kerbilo::testing
