// Input: head length (1–8), tail length (1–8), head fill length (0–3), the head, the tail,
// the fill, then the file. The scan through openAndScan must find exactly what a naive
// search from every head finds, with the data built from the fill and the file's bytes; and
// a search told that the file's runs of zeros are known zeros, as those of a sparse file
// are, must find what the search that reads them finds.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/hex_codec.h"
#include "memory_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/open.h"
#include "scan/scanner.h"

namespace {

using namespace kerbilo;

Text hex(const std::uint8_t* p, std::size_t n) {
    Text t;
    for (std::size_t i = 0; i < n; ++i) {
        const Text digits = formatHex(p[i]);
        t += digits.size() == 1 ? "0" + digits : digits;
    }
    return t;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t headLength = 1 + data[0] % 8, tailLength = 1 + data[1] % 8;
    const std::size_t fillLength = data[2] % 4;
    if (size < 3 + headLength + tailLength + fillLength) return 0;
    const std::uint8_t* head = data + 3;
    const std::uint8_t* tail = head + headLength;
    const std::uint8_t* fill = tail + tailLength;
    const std::uint8_t* file = fill + fillLength;
    const std::size_t fileLength = size - static_cast<std::size_t>(file - data);

    testing::MemoryFileServices files("/p");
    files.files["/p/resource.config"] = ByteBuffer::fromText(utf8ToGbk(
        "[Config]\r\n资源种类数=1\r\n1=K\r\nK_head=" + hex(head, headLength) +
        "\r\nK_tail=" + hex(tail, tailLength) + "\r\nK头补齐=" + hex(fill, fillLength) + "\r\n"));
    files.files["/f"] = ByteBuffer(file, fileLength);
    NoProgress progress;
    Services services{files, progress};
    Document state;
    check(openFile(services, state, "/f").opened);

    // Where the first tail at or after each offset starts (-1: none), filled from the end so
    // that the naive search costs one pass, not one pass per head: the target has to run
    // many times a second under the sanitizers to explore.
    std::vector<std::int64_t> nextTail(fileLength + 1, -1);
    for (std::size_t p = fileLength; p-- > 0;) {
        const bool here =
            p + tailLength <= fileLength && std::memcmp(file + p, tail, tailLength) == 0;
        nextTail[p] = here ? static_cast<std::int64_t>(p) : nextTail[p + 1];
    }
    int n = 0;
    for (std::size_t h = 0; h < fileLength; ++h) {
        if (h + headLength > fileLength || std::memcmp(file + h, head, headLength) != 0) continue;
        if (nextTail[h + 1] < 0) break;
        const std::int64_t t = nextTail[h + 1] - static_cast<std::int64_t>(h + 1);
        ++n;
        check(n <= state.catalogue.size());
        check(state.catalogue.openedOffset(n) == static_cast<std::int64_t>(h));
        const std::size_t stretch = 1 + static_cast<std::size_t>(t) + tailLength;
        check(state.catalogue.slot(n).length == static_cast<std::int64_t>(stretch));
        const ByteBuffer expected =
            concatBytes({ByteBuffer(fill, fillLength), ByteBuffer(file + h + 1, stretch - 1)});
        check(state.catalogue.data(n) == expected);
        check(state.catalogue.dataLength(n) == bufferLength(expected));
    }
    check(n == state.catalogue.size());

    std::vector<ZeroStretch> zeros;
    for (std::size_t i = 0; i < fileLength;) {
        std::size_t j = i;
        while (j < fileLength && file[j] == 0) ++j;
        if (j > i) zeros.push_back({i, j});
        i = j + 1;
    }
    const ByteBuffer headBytes(head, headLength), tailBytes(tail, tailLength);
    const auto found = [&](std::span<const ZeroStretch> known) {
        std::vector<std::int64_t> all;
        KindSearch search(file, fileLength, headBytes, tailBytes, data[2] & 4, known);
        for (std::size_t limit = 1 + data[2] % 7; search.advance(
                 limit, progress, [&](std::int64_t at) { all.push_back(at); },
                 [&](const KindMatch& m) { all.push_back(-m.stretch); });
             limit += 1 + data[2] % 7) {
        }
        return all;
    };
    check(found(zeros) == found({}));
    return 0;
}
