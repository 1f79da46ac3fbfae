// One file's sweep spread over several threads, each searching parts of it: whatever the
// parts' length and the threads, the catalogue and the events are those of one thread.

#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <sstream>

#include "config/config_files.h"
#include "scan/open.h"
#include "scan_helpers.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

// Everything an open tells, in order, as text a failure can show.
class Recorder final : public OpenEvents {
  public:
    std::ostringstream said;
    void kindBegins(const Text& name) override { said << "kind " << name << "\n"; }
    void headFound(std::int64_t at) override { said << "head " << at << "\n"; }
    void kindFound(const ResourceCatalogue& catalogue, int first, int count) override {
        said << "found " << first << "+" << count << "\n";
        for (int n = first; n < first + count; ++n)
            said << "  " << n << " " << catalogue.kindNameOf(n) << " "
                 << resourceLabel(catalogue, n) << " " << catalogue.slot(n).offset << " "
                 << catalogue.slot(n).length << " " << catalogue.dataLength(n) << "\n";
    }
    void scanned() override { said << "scanned\n"; }
};

// The open of `file` as kerbilo-cli and the window make it, its story told.
std::string openTold(const ByteBuffer& kinds, const ByteBuffer& file, unsigned threads,
                     std::size_t partLength, bool deep = false) {
    MemoryFileServices files;
    files.files["/prog/resource.config"] = kinds;
    files.files["/data/file.bin"] = file;
    NoProgress progress;
    Services services{files, progress};
    Document doc;
    Recorder told;
    OpenOptions options;
    options.threads = threads;
    options.partLength = partLength;
    options.structureScan = deep;
    const OpenResult result = openFile(services, doc, "/data/file.bin", options, told);
    told.said << "kinds " << result.kindsScanned << " resources " << doc.catalogue.size() << "\n";
    return told.said.str();
}

// Kinds that end at tails of every shape (a tail that is the head, one that begins inside
// the head, one head inside another) and kinds that end by format, with and without a
// tail to fall back on.
ByteBuffer mixedKinds() {
    return kindsFile({"资源种类数=6",
                      "1=A",
                      "A_head=AA01",
                      "A_tail=02BB",
                      "A头补齐=AA",
                      "2=C",
                      "C_head=CC",
                      "C_tail=CC",
                      "3=D",
                      "D_head=DDDD",
                      "D_tail=DD",
                      "4=P",
                      "P_head=89504E470D0A1A0A",
                      "P_tail=02BB",
                      "P结束方式=格式",
                      "5=G",
                      "G_head=47494638",
                      "G_tail=003B",
                      "G结束方式=格式",
                      "6=J",
                      "J_head=FFD8FF",
                      "J结束方式=格式"});
}

// A file of bytes from a small alphabet, so that heads and tails meet often, with whole
// pictures dropped in (a GIF holding 00 3B in its data, a PNG, a JPEG). `tailRate` sets how
// often tails come: rarely, a head's tail lies many parts after it, or nowhere.
ByteBuffer generatedFile(std::mt19937& random, int tailRate) {
    static const ByteBuffer pictures[] = {fixturePicture("rose_palette.png"),
                                          fixturePicture("rose_anim.gif"),
                                          fixturePicture("rose_restart.jpg")};
    const std::string alphabet("\x00\xAA\x01\xCC\xDD\x47\x89\xFF\xD8", 9);
    const std::string heads[] = {
        "\xAA\x01", "\xCC",        "\xDD\xDD", "\xDD\xDD\xDD", std::string("\x89PNG\r\n\x1a\n", 8),
        "GIF8",     "\xFF\xD8\xFF"};
    const std::string tails[] = {"\x02\xBB", std::string("\x00\x3B", 2), "\xCC", "\xDD"};
    std::string data(64 + random() % 3000, '\0');
    for (char& c : data) c = alphabet[random() % alphabet.size()];
    const auto put = [&](const std::string& piece) {
        if (piece.size() >= data.size()) return;
        data.replace(random() % (data.size() - piece.size()), piece.size(), piece);
    };
    for (int i = static_cast<int>(random() % 40); i > 0; --i) put(heads[random() % 7]);
    for (int i = static_cast<int>(random() % (tailRate + 1)); i > 0; --i) put(tails[random() % 4]);
    if (random() % 2 == 0) {
        const ByteBuffer& p = pictures[random() % 3];
        put(std::string(p.view()));
    }
    if (random() % 4 == 0) {
        // A picture inside a zlib stream, for the structure scan to find after the kinds.
        const ByteBuffer& p = pictures[random() % 3];
        std::string packed(compressBound(p.size()), '\0');
        uLongf length = packed.size();
        compress2(reinterpret_cast<Bytef*>(packed.data()), &length, p.data(), p.size(), 6);
        packed.resize(length);
        put(packed);
    }
    return ByteBuffer::fromText(data);
}

TEST(ThreadedSweep, MatchesOneThreadOnGeneratedFiles) {
    std::mt19937 random(2026);
    const ByteBuffer kinds = mixedKinds();
    for (int round = 0; round < 3000; ++round) {
        const ByteBuffer file = generatedFile(random, round % 3 == 0 ? 1 : 30);
        // Parts shorter than a head, parts of a few heads, parts of hundreds of bytes.
        const std::size_t partLength = 1 + random() % (round % 2 == 0 ? 12 : 400);
        const unsigned threads = 2 + random() % 3;
        const bool deep = round % 4 == 0;
        const std::string one = openTold(kinds, file, 1, 0, deep);
        ASSERT_EQ(openTold(kinds, file, threads, partLength, deep), one)
            << "round " << round << ", " << threads << " threads, parts of " << partLength
            << (deep ? ", with the structure scan" : "");
    }
}

// Table-driven: arrangements where the parts must hand a head's tail on, spelled out.
TEST(ThreadedSweep, HandsTailsOnAcrossParts) {
    const ByteBuffer kinds = kindsFile({"资源种类数=2", "1=A", "A_head=AA01", "A_tail=02BB", "2=G",
                                        "G_head=47494638", "G_tail=003B", "G结束方式=格式"});
    const struct {
        const char* name;
        ByteBuffer file;
    } cases[] = {
        {"a tail many parts after its heads",
         join({bytes({0xAA, 0x01}), filler(500), bytes({0xAA, 0x01}), filler(500),
               bytes({0x02, 0xBB})})},
        {"no tail at all: the first head ends the search",
         join({filler(100), bytes({0xAA, 0x01}), filler(300), bytes({0xAA, 0x01})})},
        {"a tail, then a head without one",
         join({bytes({0xAA, 0x01, 0x02, 0xBB}), filler(300), bytes({0xAA, 0x01}), filler(300)})},
        {"a head across a part's edge",
         join({filler(63), bytes({0xAA, 0x01}), filler(200), bytes({0x02, 0xBB})})},
        {"a tail across a part's edge",
         join({bytes({0xAA, 0x01}), filler(61), bytes({0x02, 0xBB}), filler(100)})},
        {"a tail inside a head",
         join({filler(10), bytes({0xAA, 0x01, 0xAA, 0x01}), filler(100), bytes({0x02, 0xBB})})},
        {"a picture walked past many parts, with a head without tail after it",
         join({filler(30), fixturePicture("rose_anim.gif"), filler(40),
               bytes({0x47, 0x49, 0x46, 0x38}), filler(90)})},
        {"heads back to back, one tail at the end",
         join({filler(5), bytes({0xAA, 0x01, 0xAA, 0x01, 0xAA, 0x01, 0xAA, 0x01, 0xAA, 0x01}),
               filler(700), bytes({0x02, 0xBB})})},
    };
    for (const auto& c : cases)
        for (const std::size_t partLength : {1, 2, 3, 64, 65, 128})
            for (const unsigned threads : {2u, 3u}) {
                const std::string one = openTold(kinds, c.file, 1, 0);
                EXPECT_EQ(openTold(kinds, c.file, threads, partLength), one)
                    << c.name << ", " << threads << " threads, parts of " << partLength;
            }
}

// Over several MiB, with the parts the sweep chooses itself and blocks inside them: the
// window's tree and status bar come out as with one thread.
TEST(ThreadedSweep, WindowShowsWhatOneThreadFinds) {
    std::string data(6 << 20, '\0');
    std::mt19937 random(9);
    for (char& c : data) c = static_cast<char>(random());
    const std::string pieces[] = {"\xAA\x01", "\x02\xBB", "\xCC", "\xDD\xEE\xFF",
                                  std::string("\x89PNG\r\n\x1a\n", 8)};
    for (int i = 0; i < 3000; ++i) {
        const std::string& p = pieces[random() % 5];
        // Every tenth piece close to a MiB's edge, where the parts meet.
        std::size_t at = random() % (data.size() - 8);
        if (i % 10 == 0) at = (1 + random() % 5) * (std::size_t{1} << 20) - 1 - random() % 3;
        data.replace(at, p.size(), p);
    }
    const ByteBuffer file = ByteBuffer::fromText(data);
    const ByteBuffer kinds =
        kindsFile({"资源种类数=3", "1=A", "A_head=AA01", "A_tail=02BB", "A头补齐=AA", "2=C",
                   "C_head=CC", "C_tail=DDEEFF", "C头补齐=CC", "3=P", "P_head=89504E47",
                   "P_tail=02BB", "P头补齐=89", "P结束方式=格式"});
    DocWorld one, two;
    one.setKinds(kinds);
    two.setKinds(kinds);
    one.files.files["/data/app.exe"] = file;
    two.files.files["/data/app.exe"] = file;
    OpenOptions threaded;
    threaded.threads = 2;
    ASSERT_TRUE(openFile(one.services, one.doc, "/data/app.exe", {}, one.view).opened);
    ASSERT_TRUE(openFile(two.services, two.doc, "/data/app.exe", threaded, two.view).opened);
    ASSERT_GT(one.doc.catalogue.size(), 100);
    EXPECT_EQ(two.listed(), one.listed());
    EXPECT_EQ(two.ui.statusTexts, one.ui.statusTexts);
}

}  // namespace
}  // namespace kerbilo::testing
