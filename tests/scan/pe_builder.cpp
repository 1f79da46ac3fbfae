#include "pe_builder.h"

#include <algorithm>
#include <cstring>

namespace kerbilo::testing {

namespace {

void store16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void store32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t roundUp(std::uint32_t v, std::uint32_t a) {
    return a <= 1 ? v : (v + a - 1) / a * a;
}
std::size_t fixedSize(bool plus) {
    return plus ? 112 : 96;
}
std::size_t headersEnd(const PePlan& plan) {
    return plan.lfanew + 24 + fixedSize(plan.plus) + 16 * 8 + 40 * plan.sections.size();
}
std::uint32_t firstRaw(const PePlan& plan) {
    return roundUp(
        std::max<std::uint32_t>(plan.sizeOfHeaders, static_cast<std::uint32_t>(headersEnd(plan))),
        plan.fileAlignment);
}

}  // namespace

std::uint32_t rawOffsetOf(const PePlan& plan, std::size_t i) {
    std::uint32_t at = firstRaw(plan);
    for (std::size_t j = 0; j < i; ++j)
        at += roundUp(static_cast<std::uint32_t>(plan.sections[j].raw.size()), plan.fileAlignment);
    return at;
}

ByteBuffer buildPe(const PePlan& plan) {
    const std::size_t end = rawOffsetOf(plan, plan.sections.size());
    std::vector<std::uint8_t> b(end, 0);
    b[0] = 'M';
    b[1] = 'Z';
    store32(b, 0x3c, plan.lfanew);
    const std::size_t pe = plan.lfanew;
    std::memcpy(b.data() + pe, "PE\0\0", 4);
    store16(b, pe + 4, plan.machine);
    store16(b, pe + 6,
            plan.sectionCount == 0xFFFF ? static_cast<std::uint16_t>(plan.sections.size())
                                        : plan.sectionCount);
    const auto trueOptional = static_cast<std::uint16_t>(fixedSize(plan.plus) + 16 * 8);
    store16(b, pe + 20, plan.optionalHeaderSize ? plan.optionalHeaderSize : trueOptional);
    store16(b, pe + 22, plan.plus ? 0x0022 : 0x0102);
    const std::size_t opt = pe + 24;
    store16(b, opt, plan.magic ? plan.magic : (plan.plus ? 0x20b : 0x10b));
    store32(b, opt + 16, plan.entryPoint);
    if (plan.plus) {
        store32(b, opt + 24, 0x40000000);
        store32(b, opt + 28, 0x1);  // image base 0x1'4000'0000
    } else {
        store32(b, opt + 28, 0x400000);
    }
    store32(b, opt + 32, plan.sectionAlignment);
    store32(b, opt + 36, plan.fileAlignment);
    store16(b, opt + 40, 6);  // operating system and subsystem versions
    store16(b, opt + 48, 6);
    std::uint32_t imageEnd = plan.sizeOfHeaders;
    for (const PeSectionPlan& s : plan.sections)
        imageEnd = std::max<std::uint32_t>(
            imageEnd,
            s.va + (s.virtualSize ? s.virtualSize : static_cast<std::uint32_t>(s.raw.size())));
    store32(b, opt + 56, roundUp(imageEnd, plan.sectionAlignment));
    store32(b, opt + 60, plan.sizeOfHeaders);
    store32(b, opt + 64, plan.checksum);
    store16(b, opt + 68, 2);  // a window program
    store32(b, opt + (plan.plus ? 108 : 92), plan.directoryCount);
    const std::size_t dirs = opt + fixedSize(plan.plus);
    for (std::size_t i = 0; i < 16; ++i) {
        store32(b, dirs + 8 * i, plan.directories[i].first);
        store32(b, dirs + 8 * i + 4, plan.directories[i].second);
    }
    const std::size_t table = opt + trueOptional;
    for (std::size_t i = 0; i < plan.sections.size(); ++i) {
        const PeSectionPlan& s = plan.sections[i];
        const std::size_t h = table + 40 * i;
        std::memcpy(b.data() + h, s.name.data(), std::min<std::size_t>(8, s.name.size()));
        const auto rawSize = static_cast<std::uint32_t>(s.raw.size());
        store32(b, h + 8, s.virtualSize ? s.virtualSize : rawSize);
        store32(b, h + 12, s.va);
        store32(b, h + 16, roundUp(rawSize, plan.fileAlignment));
        store32(b, h + 20, rawOffsetOf(plan, i));
        store32(b, h + 36, s.characteristics);
        if (!s.raw.empty()) std::memcpy(b.data() + rawOffsetOf(plan, i), s.raw.data(), rawSize);
    }
    b.insert(b.end(), plan.overlay.begin(), plan.overlay.end());
    return {b.data(), b.size()};
}

RawDirectory& RawDirectory::table(
    std::uint32_t at, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries,
    std::uint16_t named) {
    counts(at, named, static_cast<std::uint16_t>(entries.size() - named));
    for (std::size_t i = 0; i < entries.size(); ++i)
        entry(at, i, entries[i].first, entries[i].second);
    return *this;
}

RawDirectory& RawDirectory::counts(std::uint32_t at, std::uint16_t named, std::uint16_t ids) {
    store16(bytes_, at + 12, named);
    store16(bytes_, at + 14, ids);
    return *this;
}

RawDirectory& RawDirectory::entry(std::uint32_t table, std::size_t i, std::uint32_t name,
                                  std::uint32_t target) {
    store32(bytes_, table + 16 + 8 * i, name);
    store32(bytes_, table + 16 + 8 * i + 4, target);
    return *this;
}

RawDirectory& RawDirectory::dataEntry(std::uint32_t at, std::uint32_t rva, std::uint32_t size,
                                      std::uint32_t codePage) {
    store32(bytes_, at, rva);
    store32(bytes_, at + 4, size);
    store32(bytes_, at + 8, codePage);
    return *this;
}

RawDirectory& RawDirectory::string(std::uint32_t at, const std::u16string& s) {
    store16(bytes_, at, static_cast<std::uint16_t>(s.size()));
    for (std::size_t i = 0; i < s.size(); ++i)
        store16(bytes_, at + 2 + 2 * i, static_cast<std::uint16_t>(s[i]));
    return *this;
}

RawDirectory& RawDirectory::put(std::uint32_t at, const ByteBuffer& b) {
    if (!b.empty()) std::memcpy(bytes_.data() + at, b.data(), b.size());
    return *this;
}

RawDirectory& RawDirectory::put32(std::uint32_t at, std::uint32_t v) {
    store32(bytes_, at, v);
    return *this;
}

SampleDirectory::SampleDirectory() {
    raw.table(kRoot,
              {{kSub | kPngString, kSub | kPngNames},
               {3, kSub | kIconNames},
               {14, kSub | kGroupNames}},
              1)
        .table(kPngNames, {{kSub | kLogoString, kSub | kLogoLanguages}}, 1)
        .table(kIconNames, {{1, kSub | kIcon1Languages}, {2, kSub | kIcon2Languages}})
        .table(kGroupNames, {{1, kSub | kGroup1Languages}})
        .table(kLogoLanguages, {{1033, kEntries}})
        .table(kIcon1Languages, {{1033, kEntries + 16}})
        .table(kIcon2Languages, {{1033, kEntries + 32}})
        .table(kGroup1Languages, {{1031, kEntries + 48}, {1033, kEntries + 64}})
        .string(kPngString, u"PNG")
        .string(kLogoString, u"LOGO");
    for (std::size_t i = 0; i < 5; ++i) {
        raw.dataEntry(kEntries + static_cast<std::uint32_t>(16 * i), kVa + dataAt(i),
                      static_cast<std::uint32_t>(data(i).size()), i == 0 ? 1252 : 0);
        raw.put(dataAt(i), data(i));
    }
}

ByteBuffer SampleDirectory::data(std::size_t i) {
    static const std::size_t sizes[] = {10, 20, 7, 16, 5};
    std::vector<std::uint8_t> b(sizes[i]);
    for (std::size_t j = 0; j < b.size(); ++j) b[j] = static_cast<std::uint8_t>(0x40 + 16 * i + j);
    return {b.data(), b.size()};
}

std::uint32_t SampleDirectory::dataAt(std::size_t i) {
    std::uint32_t at = kData;
    for (std::size_t j = 0; j < i; ++j)
        at = roundUp(at + static_cast<std::uint32_t>(data(j).size()), 8);
    return at;
}

pe::ResourceName named(const std::u16string& s) {
    return {true, 0, s};
}

std::vector<pe::ResourceData> SampleDirectory::resources() {
    using pe::ResourceName;
    const ResourceName keys[5][3] = {
        {named(u"PNG"), named(u"LOGO"), ResourceName::number(1033)},
        {ResourceName::number(3), ResourceName::number(1), ResourceName::number(1033)},
        {ResourceName::number(3), ResourceName::number(2), ResourceName::number(1033)},
        {ResourceName::number(14), ResourceName::number(1), ResourceName::number(1031)},
        {ResourceName::number(14), ResourceName::number(1), ResourceName::number(1033)},
    };
    std::vector<pe::ResourceData> out;
    for (std::size_t i = 0; i < 5; ++i)
        out.push_back({keys[i][0], keys[i][1], keys[i][2], i == 0 ? 1252u : 0u, data(i)});
    return out;
}

PePlan samplePlan(const ByteBuffer& directory, bool plus, bool resourcesLast) {
    PePlan plan;
    plan.plus = plus;
    plan.machine = plus ? 0x8664 : 0x14c;
    plan.entryPoint = 0x1000;
    std::vector<std::uint8_t> code(0x180, 0xCC);
    plan.sections.push_back({".text", 0x1000, 0x180, {code.data(), code.size()}, 0x60000020});
    plan.sections.push_back(
        {".rsrc", SampleDirectory::kVa, static_cast<std::uint32_t>(directory.size()), directory});
    plan.directories[2] = {SampleDirectory::kVa, static_cast<std::uint32_t>(directory.size())};
    if (!resourcesLast) {
        const std::uint32_t relocVa =
            roundUp(SampleDirectory::kVa + static_cast<std::uint32_t>(directory.size()), 0x1000);
        std::vector<std::uint8_t> reloc(0x20, 0x5A);
        plan.sections.push_back(
            {".reloc", relocVa, 0x20, {reloc.data(), reloc.size()}, 0x42000040});
        plan.directories[5] = {relocVa, 0x20};
    }
    return plan;
}

}  // namespace kerbilo::testing

namespace kerbilo::testing {

std::vector<pe::ResourceData> resourcesOf(const pe::Image& image, const ByteBuffer& bytes) {
    std::vector<pe::ResourceData> out;
    for (const pe::ResourceEntry& r : image.resources)
        out.push_back({r.type, r.name, r.language, r.codePage,
                       bytes.slice(static_cast<std::size_t>(r.dataOffset), r.size)});
    return out;
}

std::string describe(const pe::ResourceName& name) {
    if (!name.named) return std::to_string(name.id);
    std::string s = "\"";
    for (char16_t c : name.name)
        s += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
    return s + "\"";
}

std::vector<pe::ResourceData> inDirectoryOrder(std::vector<pe::ResourceData> resources) {
    const auto less = [](const pe::ResourceData& a, const pe::ResourceData& b) {
        if (a.type < b.type || b.type < a.type) return a.type < b.type;
        if (a.name < b.name || b.name < a.name) return a.name < b.name;
        return a.language < b.language;
    };
    std::stable_sort(resources.begin(), resources.end(), less);
    std::vector<pe::ResourceData> unique;
    for (std::size_t i = 0; i < resources.size(); ++i)
        if (i + 1 == resources.size() || less(resources[i], resources[i + 1]))
            unique.push_back(resources[i]);
    return unique;
}

std::string describe(std::vector<pe::ResourceData> resources, bool sorted) {
    if (sorted) resources = inDirectoryOrder(std::move(resources));
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const pe::ResourceData& r : resources) {
        out += describe(r.type) + "/" + describe(r.name) + "/" + describe(r.language) + " cp" +
               std::to_string(r.codePage) + " " + std::to_string(r.bytes.size()) + ":";
        if (r.bytes.size() <= 48) {
            for (std::uint8_t b : r.bytes) out += {hex[b >> 4], hex[b & 15]};
        } else {
            std::uint64_t h = 1469598103934665603ull;  // FNV-1a, enough to tell bytes apart
            for (std::uint8_t b : r.bytes) h = (h ^ b) * 1099511628211ull;
            out += "#" + std::to_string(h);
        }
        out += "\n";
    }
    return out;
}

}  // namespace kerbilo::testing

namespace kerbilo::testing {

ByteBuffer manyResourcesImage(std::size_t n) {
    RawDirectory empty(16);
    const ByteBuffer start = buildPe(samplePlan(empty.done(), true, true));
    const auto image = pe::readImage(start.data(), start.size());
    std::vector<pe::ResourceData> resources;
    resources.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint32_t>(i);
        resources.push_back({pe::ResourceName::number(static_cast<std::uint16_t>(10 + i % 2)),
                             pe::ResourceName::number(static_cast<std::uint16_t>(i / 2)),
                             pe::ResourceName::number(1033), 0, ByteBuffer(&v, sizeof v)});
    }
    const pe::WriteResult w = pe::writeResources(start.data(), start.size(), *image, resources);
    return pe::applySplices(start.data(), start.size(), w.splices);
}

ByteBuffer programWith(const std::vector<pe::ResourceData>& resources) {
    RawDirectory empty(16);
    const ByteBuffer start = buildPe(samplePlan(empty.done(), true, false));
    const auto image = pe::readImage(start.data(), start.size());
    const pe::WriteResult w = pe::writeResources(start.data(), start.size(), *image, resources);
    return pe::applySplices(start.data(), start.size(), w.splices);
}

ByteBuffer signedProgram(const ByteBuffer& program, std::uint32_t size) {
    const auto image = pe::readImage(program.data(), program.size());
    std::vector<std::uint8_t> b(program.begin(), program.end());
    const auto at = static_cast<std::uint32_t>(b.size());
    // WIN_CERTIFICATE: length, revision 2, type PKCS#7, then what would be the signature.
    std::vector<std::uint8_t> cert(size, 0x5A);
    for (int i = 0; i < 4; ++i)
        cert[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    cert[4] = 0x00;
    cert[5] = 0x02;
    cert[6] = 0x02;
    cert[7] = 0x00;
    b.insert(b.end(), cert.begin(), cert.end());
    const auto put = [&](std::int64_t where, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[static_cast<std::size_t>(where) + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(image->certificateTable.at, at);
    put(image->certificateTable.at + 4, size);
    put(image->checksumOffset, 0);
    put(image->checksumOffset, pe::computeChecksum(b.data(), b.size(), image->checksumOffset));
    return ByteBuffer(b.data(), b.size());
}

ByteBuffer manyIconsImage(std::size_t icons, std::size_t perGroup) {
    // One 16x16 icon image of 32 bits, the same for all: the directory is what is measured.
    std::vector<std::uint8_t> dib(40 + 16 * 16 * 4 + 16 * 4, 0);
    const auto put = [&](std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(dib, 0, 40, 4);
    put(dib, 4, 16, 4);
    put(dib, 8, 32, 4);
    put(dib, 12, 1, 2);
    put(dib, 14, 32, 2);
    const ByteBuffer picture(dib.data(), dib.size());
    std::vector<pe::ResourceData> resources;
    for (std::size_t i = 0; i < icons; ++i)
        resources.push_back({pe::ResourceName::number(pe::kTypeIcon),
                             pe::ResourceName::number(static_cast<std::uint16_t>(i % 65535 + 1)),
                             pe::ResourceName::number(static_cast<std::uint16_t>(1033 + i / 65535)),
                             0, picture});
    for (std::size_t g = 0; g * perGroup < icons; ++g) {
        const std::size_t count = std::min(perGroup, icons - g * perGroup);
        std::vector<std::uint8_t> dir(6 + 14 * count, 0);
        put(dir, 2, 1, 2);
        put(dir, 4, static_cast<std::uint32_t>(count), 2);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t e = 6 + 14 * k, icon = g * perGroup + k;
            dir[e] = 16;
            dir[e + 1] = 16;
            put(dir, e + 4, 1, 2);
            put(dir, e + 6, 32, 2);
            put(dir, e + 8, static_cast<std::uint32_t>(picture.size()), 4);
            put(dir, e + 12, static_cast<std::uint32_t>(icon % 65535 + 1), 2);
        }
        resources.push_back({pe::ResourceName::number(pe::kTypeGroupIcon),
                             pe::ResourceName::number(static_cast<std::uint16_t>(g % 65535 + 1)),
                             pe::ResourceName::number(1033), 0,
                             ByteBuffer(dir.data(), dir.size())});
    }
    return programWith(resources);
}

}  // namespace kerbilo::testing
