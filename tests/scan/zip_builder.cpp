#include "zip_builder.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kerbilo::testing {

namespace {

class Bytes {
  public:
    void u8(std::uint64_t v) { out.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint64_t v) { number(v, 2); }
    void u32(std::uint64_t v) { number(v, 4); }
    void u64(std::uint64_t v) { number(v, 8); }
    void add(const ByteBuffer& b) { out.insert(out.end(), b.begin(), b.end()); }
    void add(const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
    std::int64_t size() const { return static_cast<std::int64_t>(out.size()); }
    ByteBuffer done() const { return ByteBuffer(out.data(), out.size()); }
    std::vector<std::uint8_t> out;

  private:
    void number(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) u8(v >> (8 * i));
    }
};

ByteBuffer deflateWith(const ByteBuffer& b, int level, int windowBits) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(b.size())) + 64);
    z.next_in = const_cast<Bytef*>(b.data());
    z.avail_in = static_cast<uInt>(b.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const std::size_t n = out.size() - z.avail_out;
    deflateEnd(&z);
    return ByteBuffer(out.data(), n);
}

}  // namespace

std::uint32_t crcOf(const ByteBuffer& b) {
    return static_cast<std::uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

ByteBuffer deflateBytes(const ByteBuffer& b, int level) {
    return deflateWith(b, level, -15);
}

ByteBuffer zlibStream(const ByteBuffer& content, int level, int windowBits) {
    return deflateWith(content, level, windowBits);
}

ByteBuffer gzipMember(const ByteBuffer& content, const std::string& name,
                      const std::string& comment, bool headerCrc, const ByteBuffer& extra) {
    Bytes g;
    const int flags = (extra.empty() ? 0 : 4) | (name.empty() ? 0 : 8) |
                      (comment.empty() ? 0 : 16) | (headerCrc ? 2 : 0);
    g.u8(0x1F);
    g.u8(0x8B);
    g.u8(8);
    g.u8(flags);
    g.u32(0x5F000000);  // a time
    g.u8(0);
    g.u8(3);  // Unix
    if (!extra.empty()) {
        g.u16(extra.size());
        g.add(extra);
    }
    if (!name.empty()) {
        g.add(name);
        g.u8(0);
    }
    if (!comment.empty()) {
        g.add(comment);
        g.u8(0);
    }
    if (headerCrc) g.u16(crc32(0, g.out.data(), static_cast<uInt>(g.out.size())) & 0xFFFF);
    g.add(deflateBytes(content, 9));
    g.u32(crcOf(content));
    g.u32(content.size());
    return g.done();
}

BuiltZip buildZip(const ZipPlan& plan) {
    BuiltZip built;
    Bytes z, directory;
    std::vector<ByteBuffer> stored;
    for (const ZipEntryPlan& e : plan.entries) {
        ByteBuffer data = !e.raw.empty()  ? e.raw
                          : e.method == 8 ? deflateBytes(e.content)
                                          : e.content;
        const std::uint32_t crc = e.crc ? *e.crc : crcOf(e.content);
        const std::uint64_t size = e.size ? *e.size : e.content.size();
        const std::uint64_t offset = static_cast<std::uint64_t>(z.size()) + plan.base;
        const std::uint16_t flags = static_cast<std::uint16_t>(
            (e.encrypted ? 1 : 0) | (e.descriptor ? 8 : 0) | (e.utf8 ? 0x800 : 0));
        const std::uint16_t needed = e.zip64 ? 45 : 20;
        built.localHeaders.push_back(z.size());
        z.u32(0x04034b50);
        z.u16(needed);
        z.u16(flags);
        z.u16(e.method);
        z.u16(0x6000);  // time
        z.u16(0x5821);  // date
        const bool zeros = e.descriptor;
        z.u32(zeros ? 0 : crc);
        z.u32(zeros ? 0 : e.zip64 ? 0xFFFFFFFF : data.size());
        z.u32(zeros ? 0 : e.zip64 ? 0xFFFFFFFF : size);
        z.u16(e.name.size());
        z.u16(e.zip64 ? 20 : 0);
        z.add(e.name);
        if (e.zip64) {
            z.u16(1);
            z.u16(16);
            z.u64(zeros ? 0 : size);
            z.u64(zeros ? 0 : data.size());
        }
        built.data.push_back(z.size());
        z.add(data);
        if (e.descriptor) {
            if (e.descriptorSignature) z.u32(0x08074b50);
            z.u32(crc);
            if (e.zip64) {
                z.u64(data.size());
                z.u64(size);
            } else {
                z.u32(data.size());
                z.u32(size);
            }
        }
        built.centralHeaders.push_back(directory.size());
        directory.u32(0x02014b50);
        directory.u16(0x031E);  // made by: Unix, 3.0
        directory.u16(needed);
        directory.u16(flags);
        directory.u16(e.method);
        directory.u16(0x6000);
        directory.u16(0x5821);
        directory.u32(crc);
        directory.u32(e.zip64 ? 0xFFFFFFFF : data.size());
        directory.u32(e.zip64 ? 0xFFFFFFFF : size);
        directory.u16(e.name.size());
        // An offset past 32 bits goes to a ZIP64 field of its own.
        const bool wideOffset = !e.zip64 && offset >= 0xFFFFFFFF;
        directory.u16(e.zip64 ? 28 : wideOffset ? 12 : 0);
        directory.u16(0);              // comment
        directory.u16(0);              // disk
        directory.u16(0);              // internal attributes
        directory.u32(0x81A4u << 16);  // external: a regular file, rw-r--r--
        directory.u32(e.zip64 || wideOffset ? 0xFFFFFFFF : offset);
        directory.add(e.name);
        if (e.zip64) {
            directory.u16(1);
            directory.u16(24);
            directory.u64(size);
            directory.u64(data.size());
            directory.u64(offset);
        }
        if (wideOffset) {
            directory.u16(1);
            directory.u16(8);
            directory.u64(offset);
        }
    }
    built.centralDirectory = z.size();
    for (std::int64_t& c : built.centralHeaders) c += z.size();
    const std::uint64_t directoryOffset = static_cast<std::uint64_t>(z.size()) + plan.base;
    z.add(directory.done());
    const std::uint64_t count = plan.entries.size();
    const bool zip64End = plan.zip64End || directoryOffset >= 0xFFFFFFFF;
    if (zip64End) {
        const std::uint64_t zip64At = static_cast<std::uint64_t>(z.size()) + plan.base;
        z.u32(0x06064b50);
        z.u64(44);
        z.u16(45);
        z.u16(45);
        z.u32(0);
        z.u32(0);
        z.u64(count);
        z.u64(count);
        z.u64(directory.size());
        z.u64(directoryOffset);
        z.u32(0x07064b50);
        z.u32(0);
        z.u64(zip64At);
        z.u32(1);
    }
    built.endRecord = z.size();
    z.u32(0x06054b50);
    z.u16(0);
    z.u16(0);
    z.u16(zip64End ? 0xFFFF : count);
    z.u16(zip64End ? 0xFFFF : count);
    z.u32(zip64End ? 0xFFFFFFFF : directory.size());
    z.u32(zip64End ? 0xFFFFFFFF : directoryOffset);
    z.u16(plan.comment.size());
    z.add(plan.comment);
    built.bytes = z.done();
    return built;
}

ByteBuffer randomBytes(std::size_t n, std::uint64_t seed) {
    ByteBuffer b = ByteBuffer::uninitialized(n);
    std::uint8_t* p = b.mutableData();
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(p + i, &x, std::min<std::size_t>(8, n - i));
    }
    return b;
}

ByteBuffer textBytes(std::size_t n, std::uint64_t seed) {
    static const char* words[] = {"the ",    "archive ", "of ",   "pictures ", "and ",
                                  "sound\n", "x^ ",      "x\x9c", "K2 ",       "zip "};
    const ByteBuffer r = randomBytes(n, seed);
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i) s += words[r[i % n] % 10];
    s.resize(n);
    return ByteBuffer::fromText(s);
}

ByteBuffer join(std::initializer_list<ByteBuffer> parts) {
    Bytes b;
    for (const ByteBuffer& p : parts) b.add(p);
    return b.done();
}

ByteBuffer filledBytes(std::size_t n, std::uint8_t v) {
    return ByteBuffer(std::string(n, static_cast<char>(v)).data(), n);
}

ByteBuffer overwrite(ByteBuffer b, std::size_t at, const ByteBuffer& part) {
    std::memcpy(b.mutableData() + at, part.data(), part.size());
    return b;
}

int runCommand(const std::string& command, std::string* output) {
    std::FILE* f = popen((command + " 2>&1").c_str(), "r");
    if (!f) return -1;
    char chunk[4096];
    std::string text;
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    const int status = pclose(f);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool writeFile(const std::string& path, const ByteBuffer& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

ByteBuffer readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteBuffer::fromText(std::string{std::istreambuf_iterator<char>(in), {}});
}

}  // namespace kerbilo::testing
