#pragma once
// The picture pane without a toolkit: it keeps the data given to it, decodes it, plays GIF
// animations on a worker thread of its own, and composes what it shows into a pixel buffer
// of any size. A window copies compose()'s buffer to the screen when asked to paint and
// when the frame-ready callback says a new animation frame is available.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "picture/compose.h"
#include "picture/decoders.h"
#include "picture/gif.h"
#include "picture/image.h"
#include "picture/picture_format.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

// The light grey of standard dialog backgrounds, used where no other colour is given.
constexpr Pixel kDefaultPaneBackground = 0xFFF0F0F0u;

enum class PictureState {
    Empty,          // no data, or the empty buffer
    NotRecognised,  // the first bytes match no picture format
    Undecodable,    // recognised, but truncated, corrupt, unsupported or too large
    Still,          // one picture
    Animated,       // a GIF with more than one image and animation on
};

struct PaneSettings {
    DisplayMode mode = DisplayMode::Centred;
    Pixel background = kDefaultPaneBackground;
    bool animated = true;
    DecodeLimits limits;
};

// What a pane with these settings shows for the data once `frames` frames of an animation
// have been drawn (1 is the first image; still pictures ignore it). No threads involved.
// `failure` says why an Undecodable picture could not be decoded.
Image renderPane(const ByteBuffer& data, const PaneSettings& settings, int width, int height,
                 std::size_t frames = 1, PictureState* state = nullptr,
                 DecodeFailure* failure = nullptr);

class PicturePane {
  public:
    // Called on the worker thread after a new animation frame has been handed over. It may
    // call compose() but must not call setData() or destroy the pane (that would wait for
    // the very thread it runs on); a toolkit posts a repaint to its own thread instead.
    using FrameReady = std::function<void()>;

    PicturePane() = default;
    explicit PicturePane(const PaneSettings& settings);
    ~PicturePane();
    PicturePane(const PicturePane&) = delete;
    PicturePane& operator=(const PicturePane&) = delete;

    // Stops a running animation (request, then wait for the worker to confirm), then
    // decodes the new data. The empty buffer clears the pane.
    void setData(ByteBuffer data);
    const ByteBuffer& data() const { return data_; }

    void setDisplayMode(DisplayMode mode) { mode_ = mode; }
    void setBackground(Pixel colour) { background_ = colour | 0xFF000000u; }
    Pixel background() const { return background_; }
    // Takes effect at once: the current data is decoded again with the new setting.
    void setAnimated(bool on);
    bool animated() const { return animated_; }
    void setFrameReadyCallback(FrameReady callback);

    PictureState state() const { return state_; }
    PictureFormat format() const { return format_; }
    DecodeFailure failure() const { return failure_; }
    bool animating() const { return worker_.joinable(); }
    // Frames handed over since the data was set, the first image included.
    std::size_t framesShown() const { return framesShown_.load(); }

    // The pane as it is to be drawn now; safe to call while the worker runs.
    Image compose(int width, int height) const;
    // The decoded picture or the latest finished animation frame; null when there is none.
    std::shared_ptr<const Image> currentImage() const;

  private:
    void stopWorker();
    void play(std::unique_ptr<GifPlayer> player, int firstDelay);
    void publish(std::shared_ptr<const Image> frame);

    ByteBuffer data_;
    std::atomic<DisplayMode> mode_{DisplayMode::Centred};
    std::atomic<Pixel> background_{kDefaultPaneBackground};
    bool animated_ = true;
    DecodeLimits limits_;
    PictureState state_ = PictureState::Empty;
    PictureFormat format_ = PictureFormat::None;
    DecodeFailure failure_ = DecodeFailure::None;

    mutable std::mutex frameMutex_;  // guards shown_ and frameReady_
    std::shared_ptr<const Image> shown_;
    FrameReady frameReady_;
    std::atomic<std::size_t> framesShown_{0};

    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopRequested_ = false;
    std::thread worker_;
};

}  // namespace kerbilo
