#include "picture/picture_pane.h"

#include <chrono>

namespace kerbilo {

namespace {

struct Content {
    PictureState state = PictureState::Empty;
    PictureFormat format = PictureFormat::None;
    DecodeFailure failure = DecodeFailure::None;  // why an Undecodable picture is so
    std::shared_ptr<const Image> image;
    std::unique_ptr<GifPlayer> player;  // set when more frames are to follow
    int delay = 0;                      // of the frame in image
};

Content decodeContent(const ByteBuffer& data, bool animated, const DecodeLimits& limits,
                      std::size_t frames) {
    Content c;
    if (data.empty()) return c;
    c.format = recognisePicture(bytesOf(data));
    if (c.format == PictureFormat::None) {
        c.state = PictureState::NotRecognised;
        c.failure = DecodeFailure::NotRecognised;
        return c;
    }
    c.state = PictureState::Undecodable;
    try {
        if (c.format == PictureFormat::Gif) {
            auto gif = GifAnimation::parse(data, limits, &c.failure);
            if (!gif) return c;
            const bool still = gif->isStill() || !animated;
            auto player =
                std::make_unique<GifPlayer>(std::make_shared<const GifAnimation>(std::move(*gif)));
            if (player->canvas().empty()) {
                c.failure = DecodeFailure::OutOfMemory;
                return c;
            }
            c.delay = player->drawNextFrame();
            if (!still)
                while (player->framesDrawn() < frames) c.delay = player->drawNextFrame();
            c.image = std::make_shared<const Image>(player->canvas());
            c.state = still ? PictureState::Still : PictureState::Animated;
            if (!still) c.player = std::move(player);
            return c;
        }
        Decoded image = decodePicture(bytesOf(data), limits);
        if (!image) {
            c.failure = image.failure();
            return c;
        }
        c.image = std::make_shared<const Image>(std::move(*image));
        c.state = PictureState::Still;
    } catch (...) {
        c.image.reset();
        c.player.reset();
        c.state = PictureState::Undecodable;
        c.failure = DecodeFailure::OutOfMemory;
    }
    return c;
}

}  // namespace

Image renderPane(const ByteBuffer& data, const PaneSettings& settings, int width, int height,
                 std::size_t frames, PictureState* state, DecodeFailure* failure) {
    const Content c = decodeContent(data, settings.animated, settings.limits, frames);
    if (state) *state = c.state;
    if (failure) *failure = c.failure;
    return composePane(c.image.get(), settings.mode, settings.background, width, height);
}

PicturePane::PicturePane(const PaneSettings& settings)
    : mode_(settings.mode),
      background_(settings.background | 0xFF000000u),
      animated_(settings.animated),
      limits_(settings.limits) {}

PicturePane::~PicturePane() {
    stopWorker();
}

void PicturePane::stopWorker() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(stopMutex_);
        stopRequested_ = true;
    }
    stopSignal_.notify_all();
    worker_.join();  // the confirmation: the worker has left its loop for good
    stopRequested_ = false;
}

void PicturePane::setData(ByteBuffer data) {
    stopWorker();
    {
        std::lock_guard lock(frameMutex_);
        shown_.reset();
    }
    framesShown_ = 0;
    data_ = std::move(data);
    Content c = decodeContent(data_, animated_, limits_, 1);
    state_ = c.state;
    format_ = c.format;
    failure_ = c.failure;
    if (c.image) publish(std::move(c.image));
    if (c.player) {
        try {
            worker_ = std::thread(&PicturePane::play, this, std::move(c.player), c.delay);
        } catch (const std::system_error&) {
            // Without a thread the first image stays as a still picture.
        }
    }
}

void PicturePane::setAnimated(bool on) {
    if (on == animated_) return;
    animated_ = on;
    if (!data_.empty()) setData(data_);
}

void PicturePane::setFrameReadyCallback(FrameReady callback) {
    std::lock_guard lock(frameMutex_);
    frameReady_ = std::move(callback);
}

void PicturePane::publish(std::shared_ptr<const Image> frame) {
    std::lock_guard lock(frameMutex_);
    shown_ = std::move(frame);
    ++framesShown_;
}

void PicturePane::play(std::unique_ptr<GifPlayer> player, int delay) {
    for (;;) {
        {
            std::unique_lock lock(stopMutex_);
            if (stopSignal_.wait_for(lock, std::chrono::milliseconds(delay),
                                     [this] { return stopRequested_; }))
                return;
        }
        std::shared_ptr<const Image> frame;
        try {
            delay = player->drawNextFrame();
            // A copy of the canvas is handed over, so the next frame is composed on the
            // player's canvas while painting reads the finished one.
            frame = std::make_shared<const Image>(player->canvas());
        } catch (...) {
            return;  // out of memory: the last finished frame stays on show
        }
        publish(std::move(frame));
        FrameReady callback;
        {
            std::lock_guard lock(frameMutex_);
            callback = frameReady_;
        }
        if (callback) callback();
    }
}

std::shared_ptr<const Image> PicturePane::currentImage() const {
    std::lock_guard lock(frameMutex_);
    return shown_;
}

Image PicturePane::compose(int width, int height) const {
    const std::shared_ptr<const Image> image = currentImage();
    return composePane(image.get(), mode_, background_, width, height);
}

}  // namespace kerbilo
