#pragma once
// Pictures inside compressed data: ZIP entries, gzip members and zlib streams anywhere in the
// opened bytes, inflated with limits and scanned with the same kinds (and the same reader of
// Windows programs) as the file itself, to a depth of four containers.

#include <optional>
#include <vector>

#include "config/config_files.h"
#include "scan/document.h"
#include "scan/scanner.h"
#include "scan/zip_archive.h"

namespace kerbilo {

// A part of the scan that a limit or the data itself stopped: which container, and why.
struct ContainerStop {
    enum class Why {
        Inflating,       // `stop` says why inflating stopped
        Depth,           // containers inside it were not opened: the depth limit
        ArchiveDamaged,  // some entries were left out (overlapping others, say)
    };
    Text source;  // the container's source, as the resources inside it are named
    zip::Stop stop = zip::Stop::None;
    Why why = Why::Inflating;
};

struct ContainerScanLimits {
    zip::InflateLimits inflate;
    int maxDepth = 4;
};

// The limits the kinds file sets in its [Config] section ("单个数据流解压上限" and
// "解压总量上限" in MiB), else the defaults.
ContainerScanLimits containerScanLimits(const KindsFile& kindsFile);

// The programs, archives and streams of the opened bytes themselves, found ahead (on another
// core while the kinds' sweep runs): finding them is most of what the structure scan costs
// on a large file of none.
struct LocatedContainers {
    std::vector<std::int64_t> programs;  // locatePrograms()
    std::vector<zip::Archive> archives;
    std::vector<zip::Stream> streams;
    std::uint64_t spent = 0;  // inflated by finding the streams
    bool streamsFound = false;
};
LocatedContainers locateContainers(const ByteBuffer& bytes, const ContainerScanLimits& limits);

// Appends, after everything found so far, each picture found inside compressed data, kind by
// kind (the kinds of the kinds file, then those of Windows programs' pictures), telling
// events as a kind's scan does. Returns what stopped parts of the scan.
// `located`: the file's own archives and streams when they were found ahead.
std::vector<ContainerStop> scanCompressed(Services& services, Document& doc,
                                          const KindsFile& kindsFile, const OpenOptions& options,
                                          OpenEvents& events,
                                          std::optional<LocatedContainers> located = std::nullopt);

// The content `step` leads to inside `bytes` (inflated whole), with the archive or stream it
// is in; nothing when it is not there or does not inflate to its end.
struct OpenedStep {
    ByteBuffer content;
    std::optional<zip::Archive> archive;  // for an entry
    std::optional<zip::Stream> stream;    // for a stream
};
std::optional<OpenedStep> openStep(const ByteBuffer& bytes, const PackedStep& step,
                                   const zip::InflateLimits& limits = {});

// A name from inside a file as a source shows it: UTF-8 (GBK inside) where it is valid text,
// every control byte, NUL and byte of no character as \xHH.
Text escapedEntryName(const std::string& name, bool utf8);

}  // namespace kerbilo
