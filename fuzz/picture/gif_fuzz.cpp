#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_limits.h"
#include "picture/gif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto gif = kerbilo::GifAnimation::parse(kerbilo::ByteBuffer(data, size),
                                            kerbilo::fuzzing::fuzzLimits());
    if (!gif) return 0;
    const std::size_t frames = gif->frames().size();
    kerbilo::GifPlayer player(std::make_shared<const kerbilo::GifAnimation>(std::move(*gif)));
    // One full pass and into the next, so every disposal and the restart are exercised.
    player.drawFrames(std::min(frames + 2, kerbilo::fuzzing::kMaxFramesDrawn));
    return 0;
}
