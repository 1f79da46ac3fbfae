#pragma once
// The bytes of a resource as the rows of a hex dump, sixteen bytes a row:
//
//   00001A30  89 50 4E 47 0D 0A 1A 0A  00 00 00 0D 49 48 44 52  .PNG........IHDR
//
// the file offset of the row's first byte, the bytes in hexadecimal (an extra space after
// the eighth) and the bytes as text (printable ASCII as itself, anything else as '.').
// A row is formatted only when it is asked for, and the bytes are a view of the file's, so
// a resource of gigabytes costs nothing until it is shown, and then only the rows shown.

#include <climits>
#include <cstdint>
#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo {

class HexRows {
  public:
    static constexpr int kBytesPerRow = 16;
    // Characters of the hex column: 16 bytes of two digits, 15 spaces and the extra one.
    static constexpr int kHexWidth = kBytesPerRow * 3;
    // Between the offset and the hex column, and between the hex and the text column.
    static constexpr int kGap = 2;

    HexRows() = default;
    // `fileOffset` is where the first byte lies in its file; rows count from there.
    HexRows(ByteBuffer bytes, std::int64_t fileOffset);

    std::int64_t rowCount() const {
        return static_cast<std::int64_t>((bytes_.size() + kBytesPerRow - 1) / kBytesPerRow);
    }
    const ByteBuffer& bytes() const { return bytes_; }
    std::int64_t fileOffset() const { return fileOffset_; }
    // The file offset of row r's first byte.
    std::int64_t rowOffset(std::int64_t r) const { return fileOffset_ + r * kBytesPerRow; }

    // Hex digits of every row's offset: 8, or more when the resource's last byte lies past
    // FFFFFFFF, so that the columns of one resource stay where they are however it scrolls.
    int offsetDigits() const { return offsetDigits_; }
    // Where the columns start, in characters from the start of a row.
    int hexColumn() const { return offsetDigits_ + kGap; }
    int textColumn() const { return hexColumn() + kHexWidth + kGap; }
    // Characters of a full row; the last row may be shorter (its text column is).
    int rowLength() const { return textColumn() + kBytesPerRow; }

    // Row r, 0 ≤ r < rowCount(), as ASCII; the one allocation is the string itself. The last
    // row's hex column is padded with spaces, so its text column starts where the others'
    // do.
    std::string row(std::int64_t r) const;

    // The labels over the hex column: "00 01 … 07  08 … 0F", as wide as it.
    static const std::string& columnLabels();

  private:
    ByteBuffer bytes_;
    std::int64_t fileOffset_ = 0;
    int offsetDigits_ = 8;
};

// A scroll bar's value carries an int, and a resource may have more rows than that. Up to
// `barLimit` top rows the bar's value is the top row; beyond, the bar's range is
// [0, barLimit] and its values are spread proportionally over the rows, the first value
// giving the first top row and the last value the last. Rows stay exact whichever way:
// whoever moves by rows keeps the row and lets the bar follow with valueOfTop.
class RowScale {
  public:
    RowScale() = default;
    // `lastTop`: the greatest top row, that is the rows less those that fit on a page.
    explicit RowScale(std::int64_t lastTop, int barLimit = INT_MAX);

    std::int64_t lastTop() const { return lastTop_; }
    int barMaximum() const { return barMaximum_; }
    bool proportional() const { return lastTop_ > barMaximum_; }

    std::int64_t topOfValue(int value) const;
    int valueOfTop(std::int64_t top) const;

  private:
    std::int64_t lastTop_ = 0;
    int barMaximum_ = 0;
};

}  // namespace kerbilo
