// Bytes made to cost: a directory whose entries all name the same data, ten gigabytes of
// zeros in ten megabytes of deflate data (as an entry, an entry found only by its local
// header, and a gzip member), and many entries that each stay under the stream limit. Each
// must end within a few seconds and hold no more memory than the limits allow.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "scan/zip_archive.h"
#include "zip_builder.h"

namespace kerbilo::testing {
namespace {

using zip::Stop;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kZeroChunk = kMiB;
constexpr std::uint64_t kZeroChunks = 10240;  // 10 GiB

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Raw deflate data of kZeroChunks MiB of zeros: zlib deflates a few chunks with a sync
// flush between them; once its output per chunk settles, that chunk's bytes stand for every
// further one, since each only copies the zero before it.
struct ZeroBomb {
    ByteBuffer deflated;
    std::uint32_t crc = 0;
    std::uint64_t size = kZeroChunk * kZeroChunks;
};

const ZeroBomb& zeroBomb() {
    static const ZeroBomb bomb = [] {
        ZeroBomb b;
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        std::vector<std::uint8_t> zeros(kZeroChunk, 0);
        std::vector<std::uint8_t> out(kZeroChunk);
        const auto chunk = [&](int flush) {
            z.next_in = zeros.data();
            z.avail_in = flush == Z_FINISH ? 0 : static_cast<uInt>(zeros.size());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            return std::vector<std::uint8_t>(out.begin(), out.end() - z.avail_out);
        };
        std::vector<std::uint8_t> all = chunk(Z_SYNC_FLUSH);
        std::vector<std::uint8_t> steady;
        for (int i = 0; i < 3; ++i) steady = chunk(Z_SYNC_FLUSH);
        all.insert(all.end(), steady.begin(), steady.end());
        all.insert(all.end(), steady.begin(), steady.end());
        all.insert(all.end(), steady.begin(), steady.end());
        for (std::uint64_t i = 4; i < kZeroChunks; ++i)
            all.insert(all.end(), steady.begin(), steady.end());
        const std::vector<std::uint8_t> end = chunk(Z_FINISH);
        all.insert(all.end(), end.begin(), end.end());
        deflateEnd(&z);
        b.deflated = ByteBuffer(all.data(), all.size());
        const uLong one = crc32(0, zeros.data(), static_cast<uInt>(zeros.size()));
        uLong crc = 0;
        for (std::uint64_t i = 0; i < kZeroChunks; ++i)
            crc = crc32_combine(crc, one, static_cast<z_off_t>(kZeroChunk));
        b.crc = static_cast<std::uint32_t>(crc);
        return b;
    }();
    return bomb;
}

const zip::InflateLimits kLimits{64 * kMiB, 256 * kMiB, 1032, 16 * kMiB};

// Reads with the limits, taking little more memory than the stream limit (the inflated
// bytes grow by doubling: twice the limit, and a final copy, at worst).
zip::Inflated readBounded(const ByteBuffer& b, const zip::Entry& e, std::uint64_t& spent) {
    AllocationCount count;
    zip::Inflated got = zip::readEntry(b.data(), b.size(), e, kLimits, spent);
    EXPECT_LT(count.bytes(), 3 * kLimits.maxStreamBytes);
    return got;
}

bool allZeros(const ByteBuffer& b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
}

TEST(ZipBombs, TenGigabytesOfZerosStopAtTheStreamLimit) {
    const ZeroBomb& bomb = zeroBomb();
    ASSERT_LT(bomb.deflated.size(), 12 * kMiB);
    ZipEntryPlan entry = ZipEntryPlan("zeros", {}).withZip64().storedAs(bomb.deflated);
    entry.size = bomb.size;
    entry.crc = bomb.crc;
    ZipEntryPlan described = entry;
    described.withDescriptor();
    for (const ZipEntryPlan& made : {entry, described}) {
        for (const bool directory : {true, false}) {
            SCOPED_TRACE(std::string(made.descriptor ? "descriptor" : "sizes in the header") +
                         (directory ? ", directory" : ", local header only"));
            ZipPlan plan;
            plan.entries = {made, {"after", ByteBuffer::fromText("after the bomb"), 0}};
            const BuiltZip z = buildZip(plan);
            const ByteBuffer bytes =
                directory ? z.bytes
                          : z.bytes.slice(0, static_cast<std::size_t>(z.centralDirectory));
            const auto t0 = Clock::now();
            const auto archives = zip::findArchives(bytes.data(), bytes.size());
            ASSERT_EQ(archives.size(), 1u);
            ASSERT_EQ(archives[0].entries.size(), 2u);
            const zip::Entry& e = archives[0].entries[0];
            EXPECT_EQ(e.compressedSize, bomb.deflated.size());
            EXPECT_EQ(e.size, bomb.size);
            std::uint64_t spent = 0;
            const zip::Inflated got = readBounded(bytes, e, spent);
            EXPECT_EQ(got.stop, Stop::StreamLimit);
            EXPECT_EQ(got.bytes.size(), kLimits.maxStreamBytes);
            EXPECT_TRUE(allZeros(got.bytes));
            EXPECT_EQ(spent, kLimits.maxStreamBytes);
            EXPECT_EQ(readBounded(bytes, archives[0].entries[1], spent).stop, Stop::None);
            EXPECT_LT(since(t0), 3.0);
        }
    }
}

// The bomb as a gzip member, between random bytes.
ByteBuffer gzipBomb() {
    const ZeroBomb& bomb = zeroBomb();
    std::vector<std::uint8_t> member = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 2, 3};
    member.insert(member.end(), bomb.deflated.begin(), bomb.deflated.end());
    for (const std::uint64_t v : {std::uint64_t{bomb.crc}, bomb.size})
        for (int i = 0; i < 4; ++i) member.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return join(
        {randomBytes(1000, 61), ByteBuffer(member.data(), member.size()), randomBytes(1000, 62)});
}

TEST(ZipBombs, TenGigabytesOfZerosInAGzipMember) {
    const ByteBuffer bytes = gzipBomb();
    const std::size_t memberSize = bytes.size() - 2000;
    const auto t0 = Clock::now();
    std::uint64_t spent = 0;
    AllocationCount count;
    const auto found = zip::findStreams(bytes.data(), bytes.size(), kLimits, spent);
    EXPECT_LT(count.bytes(), 3 * kLimits.maxStreamBytes);
    EXPECT_LT(since(t0), 3.0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, 1000);
    EXPECT_EQ(found[0].inflated.stop, Stop::StreamLimit);
    EXPECT_EQ(found[0].inflated.consumed, memberSize);
    EXPECT_EQ(found[0].inflated.bytes.size(), kLimits.maxStreamBytes);
    EXPECT_TRUE(allZeros(found[0].inflated.bytes));
    EXPECT_EQ(spent, kLimits.maxStreamBytes);
}

// With the limits as they come, the ratio stops the bomb soon after its grace, as an entry
// and as a gzip member.
TEST(ZipBombs, DefaultLimitsStopTheBombByItsRatio) {
    const zip::InflateLimits defaults;
    const auto expectStopped = [&](const zip::Inflated& got) {
        EXPECT_EQ(got.stop, Stop::RatioLimit);
        EXPECT_GT(got.bytes.size(), defaults.ratioGrace);
        EXPECT_LT(got.bytes.size(), defaults.ratioGrace + kMiB);
    };
    const ZeroBomb& bomb = zeroBomb();
    ZipEntryPlan entry = ZipEntryPlan("zeros", {}).withZip64().storedAs(bomb.deflated);
    entry.size = bomb.size;
    entry.crc = bomb.crc;
    ZipPlan plan;
    plan.entries = {entry};
    const ByteBuffer zipped = buildZip(plan).bytes;
    const auto t0 = Clock::now();
    const auto archives = zip::findArchives(zipped.data(), zipped.size());
    ASSERT_EQ(archives.size(), 1u);
    std::uint64_t spent = 0;
    expectStopped(
        zip::readEntry(zipped.data(), zipped.size(), archives[0].entries[0], defaults, spent));
    const ByteBuffer gzipped = gzipBomb();
    const auto found = zip::findStreams(gzipped.data(), gzipped.size(), defaults, spent);
    ASSERT_EQ(found.size(), 1u);
    expectStopped(found[0].inflated);
    EXPECT_EQ(found[0].inflated.consumed, gzipped.size() - 2000);
    EXPECT_LT(since(t0), 3.0);
}

// Ten thousand records naming one local header of 64 MiB of zeros: one entry is read, once.
TEST(ZipBombs, DirectoryEntriesSharingOneEntrysData) {
    const ByteBuffer zeros = filledBytes(64 * kMiB, 0);
    ZipPlan plan;
    plan.entries = {{"zeros", zeros}};
    const BuiltZip one = buildZip(plan);
    // The same record ten thousand times, then an end record counting them.
    const ByteBuffer record(one.bytes.data() + one.centralDirectory,
                            static_cast<std::size_t>(one.endRecord - one.centralDirectory));
    std::vector<std::uint8_t> b(one.bytes.begin(), one.bytes.begin() + one.centralDirectory);
    const int copies = 10000;
    for (int i = 0; i < copies; ++i) b.insert(b.end(), record.begin(), record.end());
    std::vector<std::uint8_t> end(one.bytes.begin() + one.endRecord, one.bytes.end());
    end[8] = end[10] = copies & 0xFF;
    end[9] = end[11] = copies >> 8;
    const std::uint64_t directorySize = record.size() * copies;
    for (int i = 0; i < 4; ++i) end[12 + i] = static_cast<std::uint8_t>(directorySize >> (8 * i));
    b.insert(b.end(), end.begin(), end.end());
    const ByteBuffer bytes(b.data(), b.size());

    const auto t0 = Clock::now();
    const auto archives = zip::findArchives(bytes.data(), bytes.size());
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(archives[0].damaged);
    EXPECT_EQ(archives[0].entries.size(), 1u);
    std::uint64_t spent = 0;
    for (const zip::Entry& e : archives[0].entries) readBounded(bytes, e, spent);
    EXPECT_LE(spent, kLimits.maxTotalBytes);
    EXPECT_LT(since(t0), 3.0);
}

// Entries that each stay under the stream limit still meet the total one, counted through
// `spent` from one read to the next.
TEST(ZipBombs, ManyEntriesMeetTheTotalLimit) {
    const ByteBuffer zeros = filledBytes(48 * kMiB, 0);
    ZipEntryPlan made = ZipEntryPlan("z", zeros).storedAs(deflateBytes(zeros, 9));
    ZipPlan plan;
    for (int i = 0; i < 12; ++i) {
        made.name = "z" + std::to_string(i);
        plan.entries.push_back(made);
    }
    const ByteBuffer bytes = buildZip(plan).bytes;
    const auto archives = zip::findArchives(bytes.data(), bytes.size());
    ASSERT_EQ(archives.size(), 1u);
    std::uint64_t spent = 0;
    std::vector<Stop> stops;
    for (const zip::Entry& e : archives[0].entries)
        stops.push_back(readBounded(bytes, e, spent).stop);
    EXPECT_EQ(spent, kLimits.maxTotalBytes);
    const std::vector<Stop> want = {Stop::None,       Stop::None,       Stop::None,
                                    Stop::None,       Stop::None,       Stop::TotalLimit,
                                    Stop::TotalLimit, Stop::TotalLimit, Stop::TotalLimit,
                                    Stop::TotalLimit, Stop::TotalLimit, Stop::TotalLimit};
    EXPECT_EQ(stops, want);
}

}  // namespace
}  // namespace kerbilo::testing
