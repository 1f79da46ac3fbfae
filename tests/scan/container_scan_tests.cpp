#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "edit/edit.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/container_scan.h"
#include "scan_helpers.h"
#include "test_data.h"

// A namespace of its own: the helpers must not meet other files' in a unity build.
namespace kerbilo::testing::container_scan_tests {

ByteBuffer randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random() % 251);  // no "PK", "MZ" or zlib head
    for (char& c : s)
        if (c == 'P' || c == 'M' || c == 0x78 || c == 0x1F) c = 'q';
    return ByteBuffer::fromText(s);
}

void put16(std::string& b, std::uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// Raw deflate (no zlib header), as a ZIP entry holds it.
std::string deflateRaw(const ByteBuffer& in) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, in.size()) + 16, '\0');
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

ByteBuffer zlibStream(const ByteBuffer& in) {
    uLongf n = compressBound(in.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, in.data(), in.size(), 6);
    out.resize(n);
    return ByteBuffer::fromText(out);
}

struct ZipEntry {
    std::string name;
    ByteBuffer content;
    bool deflated = true;
};

// A ZIP archive of the entries, local headers, central directory and end record.
ByteBuffer zipOf(const std::vector<ZipEntry>& entries) {
    std::string out, central;
    for (const ZipEntry& e : entries) {
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, e.content.data(), static_cast<uInt>(e.content.size())));
        const std::string data = e.deflated ? deflateRaw(e.content) : std::string(e.content.view());
        const auto at = static_cast<std::uint32_t>(out.size());
        std::string header;
        put32(header, 0x04034b50);
        put16(header, 20);
        put16(header, 0x800);
        put16(header, e.deflated ? 8 : 0);
        put32(header, 0);
        put32(header, crc);
        put32(header, static_cast<std::uint32_t>(data.size()));
        put32(header, static_cast<std::uint32_t>(e.content.size()));
        put16(header, static_cast<std::uint32_t>(e.name.size()));
        put16(header, 0);
        out += header + e.name + data;
        put32(central, 0x02014b50);
        put16(central, 20);
        central += header.substr(4, 26);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, at);
        central += e.name;
    }
    const auto cd = static_cast<std::uint32_t>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put32(out, static_cast<std::uint32_t>(central.size()));
    put32(out, cd);
    put16(out, 0);
    return ByteBuffer::fromText(out);
}

class Compressed : public ::testing::Test {
  protected:
    void SetUp() override {
        // BMP pictures deflate to Huffman-coded blocks: a signature cannot see them through
        // the compression, as it could a PNG (which deflates to stored blocks).
        w.setKinds(kindsFile({"资源种类数=1", "1=BMP", "BMP_head=424D", "BMP头补齐=42",
                              "BMP文件后缀=bmp", "BMP结束方式=格式", "结构扫描=是"}));
    }
    // The rows found inside compressed data: source and data.
    std::vector<std::pair<std::string, ByteBuffer>> inside() {
        std::vector<std::pair<std::string, ByteBuffer>> rows;
        for (int n = 1; n <= w.doc.catalogue.size(); ++n)
            if (const ResourceOrigin* o = w.doc.catalogue.origin(n); o && o->container < 0)
                rows.emplace_back(gbkToUtf8(o->source), w.doc.catalogue.data(n));
        return rows;
    }
    DocWorld w;
    const ByteBuffer a = fixturePicture("rose.bmp");
    const ByteBuffer b = fixturePicture("rose_v5.bmp");
};

TEST_F(Compressed, PicturesInArchiveEntriesAndStreamsAreFoundWithTheirPlace) {
    const ByteBuffer archive = zipOf({{"pics/a.bmp", a}, {"b.bmp", b, false}});
    const ByteBuffer stream = zlibStream(join({filler(44, 0x20), b}));
    const ByteBuffer file =
        join({randomBytes(5000, 1), archive, randomBytes(300, 2), stream, randomBytes(100, 3)});
    ASSERT_TRUE(w.open(file));
    using Row = std::pair<std::string, ByteBuffer>;
    const std::vector<Row> want = {
        {"zip@0x1388:pics/a.bmp", a},
        {"zip@0x1388:b.bmp", b},
        {"zlib@0x" + std::string(formatHex(5000 + bufferLength(archive) + 300)) + "+0x2C", b},
    };
    EXPECT_EQ(inside(), want);
    // The stored entry's picture is in the file as it is: the kind finds it there first.
    ASSERT_EQ(w.doc.catalogue.size(), 4);
    EXPECT_EQ(w.doc.catalogue.origin(1), nullptr);
    EXPECT_EQ(w.doc.catalogue.openedOffset(2), 5000);  // labelled by the entry's header
}

TEST_F(Compressed, ArchivesInsideArchivesAreOpenedToo) {
    const ByteBuffer inner = zipOf({{"deep.bmp", a}});
    ASSERT_TRUE(w.open(zipOf({{"inner.zip", inner, false}})));
    using Row = std::pair<std::string, ByteBuffer>;
    EXPECT_EQ(inside(), (std::vector<Row>{{"zip:inner.zip>zip:deep.bmp", a}}));
}

TEST_F(Compressed, NamesFromInsideAreEscaped) {
    ASSERT_TRUE(w.open(zipOf({{std::string("../up\x01/x\0y.bmp", 14), a}})));
    ASSERT_EQ(inside().size(), 1u);
    EXPECT_EQ(inside()[0].first, "zip:../up\\x01/x\\x00y.bmp");
}

TEST_F(Compressed, WithoutTheStructureScanNothingInsideIsLookedAt) {
    w.setKinds(kindsFile({"资源种类数=1", "1=BMP", "BMP_head=424D", "BMP头补齐=42",
                          "BMP文件后缀=bmp", "BMP结束方式=格式"}));
    ASSERT_TRUE(w.open(join({zipOf({{"a.bmp", a, false}}), zlibStream(b)})));
    // The stored entry's picture lies in the bytes as it is: the kind finds it, once.
    ASSERT_EQ(w.doc.catalogue.size(), 1);
    EXPECT_TRUE(inside().empty());
}

TEST_F(Compressed, ReplacingInsideAnEntryRewritesTheArchiveAndMovesWhatFollows) {
    const ByteBuffer archive = zipOf({{"one.bmp", a}, {"two.bmp", b}});
    const ByteBuffer tail = randomBytes(77, 4);
    ASSERT_TRUE(w.open(join({randomBytes(1000, 5), archive, tail})));
    ASSERT_EQ(inside().size(), 2u);
    ASSERT_EQ(w.doc.catalogue.size(), 2);
    const ByteBuffer larger = join({a, a});
    const PutResult put = putResourceData(w.doc, 1, larger, Growth::Refuse);
    ASSERT_EQ(put.status, PutStatus::Put);
    EXPECT_EQ(w.doc.catalogue.data(1), larger);
    // The archive reads with the new entry and the old one beside it.
    const ByteBuffer& bytes = w.doc.file.bytes;
    const std::vector<zip::Archive> archives = zip::findArchives(bytes.data(), bytes.size());
    ASSERT_EQ(archives.size(), 1u);
    ASSERT_EQ(archives[0].entries.size(), 2u);
    std::uint64_t spent = 0;
    EXPECT_EQ(zip::readEntry(bytes.data(), bytes.size(), archives[0].entries[0], {}, spent).bytes,
              larger);
    EXPECT_EQ(zip::readEntry(bytes.data(), bytes.size(), archives[0].entries[1], {}, spent).bytes,
              b);
    EXPECT_EQ(bytes.slice(bytes.size() - tail.size(), tail.size()), tail);
    EXPECT_EQ(bytes.slice(0, 1000), randomBytes(1000, 5));
    // The other picture can still be replaced: its steps still lead to it.
    EXPECT_FALSE(w.doc.catalogue.overwritten(2));
    ASSERT_EQ(putResourceData(w.doc, 2, a, Growth::Refuse).status, PutStatus::Put);
    const std::vector<zip::Archive> again = zip::findArchives(bytes.data(), bytes.size());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(zip::readEntry(bytes.data(), bytes.size(), again[0].entries[1], {}, spent).bytes, a);
}

TEST_F(Compressed, AStreamTakesOnlyWhatFitsWhereItLies) {
    const ByteBuffer stream = zlibStream(join({filler(20, 0x20), a}));
    const ByteBuffer file = join({randomBytes(200, 6), stream, randomBytes(50, 7)});
    ASSERT_TRUE(w.open(file));
    ASSERT_EQ(inside().size(), 1u);
    const ByteBuffer noise = randomBytes(20000, 8);
    EXPECT_EQ(putResourceData(w.doc, 1, noise, Growth::Refuse).status, PutStatus::NoRoomInStream);
    EXPECT_EQ(w.doc.file.bytes, file);
    const ByteBuffer plain = filler(900, 0x42);  // compresses to far less than the picture
    EXPECT_EQ(putResourceData(w.doc, 1, plain, Growth::Refuse).status, PutStatus::Put);
    EXPECT_EQ(w.doc.file.bytes.size(), file.size());
    std::uint64_t spent = 0;
    const ByteBuffer& bytes = w.doc.file.bytes;
    const std::vector<zip::Stream> streams =
        zip::findStreams(bytes.data(), bytes.size(), {}, spent);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].inflated.bytes.slice(20, 900), plain);
}

}  // namespace kerbilo::testing::container_scan_tests
