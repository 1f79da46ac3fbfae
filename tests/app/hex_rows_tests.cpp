// The hex view's rows: offsets and their width, the columns of a full and of a short last
// row, bytes that are not text, and resources far too large to read, which must cost
// nothing until a row is asked for. Then the scale that lets an int scroll bar reach any row.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/hex_rows.h"
#include "runtime/file_services.h"
#include "temp_folder.h"

namespace kerbilo::testing {
namespace {

ByteBuffer run(std::uint8_t first, int n) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
    return {b.data(), b.size()};
}

TEST(HexRowsFormat, RowsAsTheyRead) {
    const struct Case {
        const char* what;
        ByteBuffer bytes;
        std::int64_t fileOffset;
        std::int64_t row;
        std::string expected;
    } cases[] = {
        {"a full row", run(0x00, 16), 0, 0,
         "00000000  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  ................"},
        {"text and its borders", ByteBuffer::fromText(" !AZaz~\x7F\x1F\x80\xFF.0\t\r\n"), 0, 0,
         "00000000  20 21 41 5A 61 7A 7E 7F  1F 80 FF 2E 30 09 0D 0A   !AZaz~.....0..."},
        {"the second row counts from the resource's start", run(0x40, 20), 0x1A35, 1,
         "00001A45  50 51 52 53                                       PQRS"},
        {"a last row of one byte", run(0x31, 17), 0, 1,
         "00000010  41                                                A"},
        {"a last row that ends at the eighth byte", run(0x61, 8), 0x10, 0,
         "00000010  61 62 63 64 65 66 67 68                           abcdefgh"},
        {"a last row one past the eighth byte", run(0x61, 9), 0x10, 0,
         "00000010  61 62 63 64 65 66 67 68  69                       abcdefghi"},
        {"an offset past 4 GiB", run(0x30, 16), 0x123456780, 0,
         "123456780  30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F  0123456789:;<=>?"},
        {"a last byte just below 4 GiB keeps eight digits", run(0x30, 8), 0xFFFFFFF8, 0,
         "FFFFFFF8  30 31 32 33 34 35 36 37                           01234567"},
        {"a last byte at 4 GiB widens every row", run(0x30, 9), 0xFFFFFFF8, 0,
         "0FFFFFFF8  30 31 32 33 34 35 36 37  38                       012345678"},
        {"past 64 GiB", run(0x41, 1), 0x1000000000, 0,
         "1000000000  41                                                A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HexRows rows(c.bytes, c.fileOffset);
        EXPECT_EQ(rows.row(c.row), c.expected);
    }
}

TEST(HexRowsFormat, ColumnsAndLabelsLineUp) {
    const HexRows rows(run(0, 16), 0);
    EXPECT_EQ(rows.offsetDigits(), 8);
    EXPECT_EQ(rows.hexColumn(), 10);
    EXPECT_EQ(rows.textColumn(), 60);
    EXPECT_EQ(rows.rowLength(), 76);
    EXPECT_EQ(static_cast<int>(rows.row(0).size()), rows.rowLength());
    EXPECT_EQ(HexRows::columnLabels(), "00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F");
    // Each label stands over its byte's digits.
    EXPECT_EQ(rows.row(0).substr(static_cast<std::size_t>(rows.hexColumn()), HexRows::kHexWidth),
              HexRows::columnLabels());
}

TEST(HexRowsCount, IsTheSizeInSixteensRoundedUp) {
    const struct {
        int size;
        std::int64_t rows;
    } cases[] = {{0, 0}, {1, 1}, {15, 1}, {16, 1}, {17, 2}, {32, 2}, {33, 3}, {256, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(HexRows(run(0, c.size), 12345).rowCount(), c.rows);
    }
}

TEST(HexRowsCount, AnEmptyResourceHasNoRows) {
    const HexRows none;
    EXPECT_EQ(none.rowCount(), 0);
    EXPECT_EQ(none.offsetDigits(), 8);
    const HexRows empty(ByteBuffer{}, 0x200000000);
    EXPECT_EQ(empty.rowCount(), 0);
    EXPECT_EQ(empty.offsetDigits(), 9);
}

// A resource of 5 GiB in a sparse file, mapped and sliced: counted and shown by rows
// without a copy and without reading what is not shown.
using HexRowsHuge = TempFolderTest;

TEST_F(HexRowsHuge, CountAndShowRowsWithoutReadingTheRest) {
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    const std::string path = home + "/huge.bin";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    const char head[] = "MZ", tail[] = "end";
    ASSERT_EQ(::pwrite(fd, head, 2, 0x40), 2);
    ASSERT_EQ(::pwrite(fd, tail, 3, size - 3), 3);
    ::close(fd);
    PosixFileServices files(home);
    const std::optional<ByteBuffer> file = files.tryMapWholeFile(path);
    ASSERT_TRUE(file);
    ASSERT_EQ(static_cast<std::int64_t>(file->size()), size);

    // The resource: everything from 0x40 on.
    const ByteBuffer resource = file->slice(0x40, file->size());
    const HexRows rows(resource, 0x40);
    EXPECT_EQ(rows.bytes().data(), file->data() + 0x40) << "a view, not a copy";
    const std::int64_t resourceSize = size - 0x40;
    EXPECT_EQ(rows.rowCount(), (resourceSize + 15) / 16);
    EXPECT_EQ(rows.offsetDigits(), 9);
    EXPECT_EQ(rows.row(0),
              "000000040  4D 5A 00 00 00 00 00 00  00 00 00 00 00 00 00 00  MZ..............");
    EXPECT_EQ(rows.row(rows.rowCount() / 2),
              "0A0000020  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  ................");
    // 5 GiB + 3 − 0x40 bytes leave 3 for the last row: the written "end".
    EXPECT_EQ(rows.row(rows.rowCount() - 1),
              "140000000  65 6E 64                                          end");
}

// An int bar over any number of rows: values are rows while they fit, spread over them
// proportionally once they do not, with the ends always the first and the last top row.
TEST(RowScale, ValuesAndRows) {
    const struct Case {
        const char* what;
        std::int64_t lastTop;
        int barLimit;
        int barMaximum;
        std::vector<std::pair<int, std::int64_t>> topOfValue;
        std::vector<std::pair<std::int64_t, int>> valueOfTop;
    } cases[] = {
        {"nothing to scroll", 0, 100, 0, {{0, 0}, {5, 0}, {-1, 0}}, {{0, 0}, {7, 0}}},
        {"fewer rows than the limit",
         90,
         100,
         90,
         {{0, 0}, {37, 37}, {90, 90}, {95, 90}},
         {{0, 0}, {37, 37}, {90, 90}, {200, 90}, {-3, 0}}},
        {"exactly the limit", 100, 100, 100, {{100, 100}, {99, 99}}, {{99, 99}}},
        {"ten rows a value",
         1000,
         100,
         100,
         {{0, 0}, {1, 10}, {50, 500}, {99, 990}, {100, 1000}},
         {{0, 0}, {4, 0}, {5, 1}, {500, 50}, {994, 99}, {999, 100}, {1000, 100}}},
        {"a lopsided scale",
         1001,
         100,
         100,
         {{1, 10}, {50, 501}, {99, 991}, {100, 1001}},
         {{501, 50}, {1000, 100}}},
        {"2^40 rows on an int bar",
         std::int64_t{1} << 40,
         INT_MAX,
         INT_MAX,
         {{INT_MAX, std::int64_t{1} << 40}, {1, 512}, {1 << 30, (std::int64_t{1} << 39) + 256}},
         {{(std::int64_t{1} << 40) - 1, INT_MAX}, {std::int64_t{1} << 39, 1 << 30}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RowScale scale(c.lastTop, c.barLimit);
        EXPECT_EQ(scale.barMaximum(), c.barMaximum);
        EXPECT_EQ(scale.proportional(), c.lastTop > c.barLimit);
        for (const auto& [value, top] : c.topOfValue)
            EXPECT_EQ(scale.topOfValue(value), top) << value;
        for (const auto& [top, value] : c.valueOfTop)
            EXPECT_EQ(scale.valueOfTop(top), value) << top;
    }
}

// Dragging the bar from end to end passes every value once and the rows only forwards, and
// a row that the bar is set to comes back within one value's share of rows.
TEST(RowScale, OrderAndRoundTripHold) {
    for (const std::int64_t lastTop :
         {std::int64_t{5}, std::int64_t{1000}, std::int64_t{134217000}}) {
        SCOPED_TRACE(lastTop);
        const RowScale scale(lastTop, 997);
        const std::int64_t share = (lastTop + scale.barMaximum() - 1) / scale.barMaximum();
        std::int64_t before = -1;
        for (int v = 0; v <= scale.barMaximum(); ++v) {
            const std::int64_t top = scale.topOfValue(v);
            EXPECT_GT(top, before) << v;
            before = top;
        }
        for (std::int64_t top = 0; top <= lastTop; top += 1 + lastTop / 1500) {
            EXPECT_LE(std::abs(scale.topOfValue(scale.valueOfTop(top)) - top), share) << top;
        }
    }
}

}  // namespace
}  // namespace kerbilo::testing
