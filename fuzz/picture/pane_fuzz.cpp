#include <cstddef>
#include <cstdint>

#include "fuzz_limits.h"
#include "picture/picture_pane.h"

// Recognition, decoding and composition together, in both display modes and into panes
// smaller and larger than typical images.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kerbilo::ByteBuffer bytes(data, size);
    kerbilo::PaneSettings settings;
    settings.limits = kerbilo::fuzzing::fuzzLimits();
    settings.background = 0xFF336699u;
    kerbilo::renderPane(bytes, settings, 37, 23, 3);
    settings.mode = kerbilo::DisplayMode::Stretched;
    kerbilo::renderPane(bytes, settings, 91, 5, 1);
    return 0;
}
