#pragma once
// The picture pane without a toolkit: it keeps the data given to it, decodes it on a worker
// thread of its own, plays GIF animations there, and composes what it shows into a pixel
// buffer of any size. Told the size it is shown at, the worker composes each picture and
// each animation frame at that size ahead of painting, so a window only copies a finished
// buffer to the screen when it paints and when the frame-ready callback says a new
// picture or frame is there.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "picture/compose.h"
#include "picture/decoders.h"
#include "picture/gif.h"
#include "picture/image.h"
#include "picture/picture_format.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

// The background of the pane wherever no picture is drawn: the light grey of standard
// dialog backgrounds. The window paints its pane with it and kerbilo-cli render uses it
// unless told otherwise, so both show the same pixels.
constexpr Pixel kDefaultPaneBackground = 0xFFF0F0F0u;

enum class PictureState {
    Empty,          // no data, or the empty buffer
    NotRecognised,  // the first bytes match no picture format
    Undecodable,    // recognised, but truncated, corrupt, unsupported or too large
    Still,          // one picture
    Animated,       // a GIF with more than one image and animation on
    Decoding,       // the worker has not finished with the data yet: background only
};

struct PaneSettings {
    DisplayMode mode = DisplayMode::Centred;
    ViewOptions view;  // zoom, pan and checkerboard; the defaults change nothing
    Pixel background = kDefaultPaneBackground;
    bool animated = true;
    DecodeLimits limits;
};

// What a pane with these settings shows for the data once `frames` frames of an animation
// have been drawn (1 is the first image; still pictures ignore it; an animation restarts
// after its last frame, so any count costs at most one round). No threads involved.
// `failure` says why an Undecodable picture could not be decoded.
Image renderPane(const ByteBuffer& data, const PaneSettings& settings, int width, int height,
                 std::size_t frames = 1, PictureState* state = nullptr,
                 DecodeFailure* failure = nullptr);

class PicturePane {
  public:
    // Called on the worker thread after each new animation frame past the first image. It
    // may call compose() but must not call setData() or destroy the pane (that would wait
    // for the very thread it runs on); a toolkit posts a repaint to its own thread instead.
    using FrameReady = std::function<void()>;
    // Called on the worker thread, on the same terms, once the latest data has been
    // decoded (the pane is ready(), whatever came of it) and when a picture has been
    // composed again for a new view.
    using PictureReady = std::function<void()>;

    PicturePane() = default;
    explicit PicturePane(const PaneSettings& settings);
    ~PicturePane();
    PicturePane(const PicturePane&) = delete;
    PicturePane& operator=(const PicturePane&) = delete;

    // Drops what is shown (the pane shows its background from now on), stops the worker of
    // the previous data and hands the new data to a worker of its own. Returns at once: a
    // decode still running for older data is told to stop and is no longer waited for; its
    // result is never shown. The empty buffer clears the pane.
    void setData(ByteBuffer data);
    const ByteBuffer& data() const { return data_; }

    void setDisplayMode(DisplayMode mode);
    // The zoom and pan of the modes that use them, and the checkerboard; recomposed on the
    // worker, as a new view size is.
    void setViewOptions(const ViewOptions& options);
    void setBackground(Pixel colour);
    Pixel background() const;
    // The size the pane is shown at: the worker composes pictures and frames at this size,
    // and compose() at this size then costs nothing. 0 x 0: not known.
    void setViewSize(int width, int height);
    // Takes effect at once: the current data is decoded again with the new setting.
    void setAnimated(bool on);
    bool animated() const { return animated_; }
    void setFrameReadyCallback(FrameReady callback);
    void setPictureReadyCallback(PictureReady callback);

    PictureState state() const;
    PictureFormat format() const;
    DecodeFailure failure() const;
    // The worker has finished decoding the latest data (whatever came of it).
    bool ready() const { return state() != PictureState::Decoding; }
    // Waits until ready(); false when the time ran out first. For tests and tools.
    bool waitUntilReady(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    bool animating() const { return state() == PictureState::Animated; }
    // Frames handed over since the data was set, the first image included.
    std::size_t framesShown() const;

    // The pane as it is to be drawn now; safe to call from any thread. Kept per picture,
    // frame, size, background and display mode: asking again for the same costs nothing.
    std::shared_ptr<const Image> composed(int width, int height) const;
    Image compose(int width, int height) const { return *composed(width, height); }
    // The decoded picture of a still format other than GIF; null for GIFs (their canvas
    // stays with the player) and when there is none.
    std::shared_ptr<const Image> currentImage() const;
    // The width and height of the picture shown (a GIF's logical screen); 0 x 0 while
    // there is none. What a window needs to zoom about the pointer and to pan.
    std::pair<int, int> pictureSize() const;

  private:
    struct View {
        int width = 0;
        int height = 0;
        DisplayMode mode = DisplayMode::Centred;
        ViewOptions options;
        Pixel background = kDefaultPaneBackground;
        friend bool operator==(const View&, const View&) = default;
    };
    struct Job;

    void work(const std::shared_ptr<Job>& job);
    // After the first picture has been shown: each frame of an animation in its turn, and the
    // pane again whenever its view changes.
    void animate(const std::shared_ptr<Job>& job, const std::shared_ptr<const Image>& still,
                 View view, int firstDelay);
    static std::shared_ptr<const Image> composeView(Job& job,
                                                    const std::shared_ptr<const Image>& still,
                                                    const View& view);
    enum class News { Picture, Frame };
    bool publish(const std::shared_ptr<Job>& job, News news);
    void retire(std::shared_ptr<Job> job);
    void updateView(const View& view);
    View currentView() const;
    std::shared_ptr<Job> currentJob() const;

    ByteBuffer data_;
    bool animated_ = true;
    DecodeLimits limits_;

    mutable std::mutex mutex_;  // guards view_, job_ and cache_
    View view_;
    std::shared_ptr<Job> job_;
    struct Cache {
        const Job* job = nullptr;
        std::size_t frame = 0;
        View view;
        std::shared_ptr<const Image> image;
    };
    mutable Cache cache_;

    // Held while a callback runs; a job marked stopped under it never calls one again.
    std::mutex callbackMutex_;
    FrameReady frameReady_;
    PictureReady pictureReady_;

    // Workers of earlier data that were told to stop; joined once they have, and all of
    // them before the pane goes.
    std::vector<std::shared_ptr<Job>> retired_;
};

}  // namespace kerbilo
