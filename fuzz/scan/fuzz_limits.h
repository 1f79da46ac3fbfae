#pragma once
// Inflate limits for the ZIP and stream targets, far below the program's own. What an
// input costs is mostly what it inflates to: deflate reaches about 1032:1, so a few KiB of
// input could make megabytes, allocated and copied under the address sanitizer at every
// run. Each limit stays within reach of inputs of a few KiB, so each keeps being hit: some
// 32 bytes of deflated zeros pass the ratio's grace, a stream of 256:1 over 256 bytes
// reaches a stream's limit, and four such streams the total.

#include "scan/zip_archive.h"

namespace kerbilo::fuzzing {

inline constexpr zip::InflateLimits kInflateLimits{64 << 10, 256 << 10, 256, 8 << 10};

}  // namespace kerbilo::fuzzing
