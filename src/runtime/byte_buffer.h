#pragma once
// An owned byte sequence with value semantics. Copies share storage until one side writes
// (copy on write), and slices share their parent's storage, so a catalogue of millions of
// views into a 1 GiB file costs a few words per view instead of a copy of each resource.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kerbilo {

// Bytes [from, to) of a buffer that are known to be zero without reading them.
struct ZeroStretch {
    std::size_t from;
    std::size_t to;
};

class ByteBuffer {
  public:
    ByteBuffer() = default;
    ByteBuffer(const void* data, std::size_t size);
    ByteBuffer(std::initializer_list<std::uint8_t> bytes);

    // Storage for n bytes whose content is not initialised: fill it through mutableData().
    // Empty on allocation failure, which callers check through size().
    static ByteBuffer uninitialized(std::size_t n);
    static ByteBuffer fromText(std::string_view text) { return {text.data(), text.size()}; }
    // Bytes that someone else owns and that must never be written, such as a file mapped
    // read-only: `owner` keeps them alive (its deleter unmaps them); writing makes a copy.
    // `zeros`, in order and apart, are stretches of them that read as zero whatever happens
    // to their source (the holes of a sparse file, mapped as zeros), so that a search may
    // pass them by instead of reading them.
    static ByteBuffer readOnly(std::shared_ptr<std::uint8_t[]> owner, std::size_t size,
                               std::vector<ZeroStretch> zeros = {});

    const std::uint8_t* data() const { return begin_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* begin() const { return begin_; }
    const std::uint8_t* end() const { return begin_ + size_; }
    std::uint8_t operator[](std::size_t i) const { return begin_[i]; }
    std::string_view view() const { return {reinterpret_cast<const char*>(begin_), size_}; }

    // Bytes [offset, offset + length) clamped to the buffer; shares storage, copies nothing.
    ByteBuffer slice(std::size_t offset, std::size_t length) const;

    // The stretches of these bytes known to be zero, in order, relative to data() and
    // clipped to these bytes; none for bytes the program owns.
    std::vector<ZeroStretch> knownZeros() const;

    // Writable access; first detaches from any sharer so other values never change.
    // Returns nullptr for the empty buffer.
    std::uint8_t* mutableData();

    friend bool operator==(const ByteBuffer& a, const ByteBuffer& b);

  private:
    std::shared_ptr<std::uint8_t[]> storage_;
    std::size_t capacity_ = 0;
    std::uint8_t* begin_ = nullptr;
    std::size_t size_ = 0;
    bool readOnly_ = false;
    std::shared_ptr<const std::vector<ZeroStretch>> zeros_;  // relative to storage_
};

// For tests of what happens when memory runs out: from now on every buffer allocation of
// at least `bytes` bytes fails as a real one would (0 switches this off again).
void failAllocationsFrom(std::size_t bytes);

// Text is GBK bytes without zero bytes; lengths and positions count bytes.
using Text = std::string;

}  // namespace kerbilo
