#include "picture/picture_pane.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace kerbilo {

namespace {

struct Content {
    PictureState state = PictureState::Empty;
    PictureFormat format = PictureFormat::None;
    DecodeFailure failure = DecodeFailure::None;  // why an Undecodable picture is so
    std::shared_ptr<const Image> image;           // a still format other than GIF
    std::unique_ptr<GifPlayer> player;            // a GIF, its first image drawn
    int delay = 0;                                // of the first image
};

Content decodeContent(const ByteBuffer& data, bool animated, const DecodeLimits& limits) {
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
            c.player =
                std::make_unique<GifPlayer>(std::make_shared<const GifAnimation>(std::move(*gif)));
            if (!c.player->usable()) {
                c.player.reset();
                c.failure = DecodeFailure::OutOfMemory;
                return c;
            }
            c.delay = c.player->drawNextFrame();
            c.state = still ? PictureState::Still : PictureState::Animated;
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
    Content c = decodeContent(data, settings.animated, settings.limits);
    Image pane;
    try {
        if (c.player) {
            c.player->setView(settings.mode, settings.background, width, height, settings.view);
            if (c.state == PictureState::Animated) c.player->drawFrames(frames);
            pane = c.player->view();
        } else {
            pane = composePane(c.image.get(), settings.mode, settings.background, width, height,
                               settings.view);
        }
    } catch (...) {
        c.state = PictureState::Undecodable;
        c.failure = DecodeFailure::OutOfMemory;
        pane = composePane(nullptr, settings.mode, settings.background, width, height);
    }
    if (state) *state = c.state;
    if (failure) *failure = c.failure;
    return pane;
}

// ---- the pane ---------------------------------------------------------------------------

// One piece of data and the worker that decodes, composes and animates it. The worker
// touches nothing of the pane but the callback, and that only under callbackMutex_.
struct PicturePane::Job {
    Job(ByteBuffer d, bool a, DecodeLimits l) : data(std::move(d)), animated(a), limits(l) {
        limits.stop = &stop;
    }

    const ByteBuffer data;
    const bool animated;
    DecodeLimits limits;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};  // the worker has left work()
    std::thread thread;

    mutable std::mutex mutex;         // guards what follows
    std::condition_variable changed;  // stopped, a new view asked for, the decode over
    View view;                        // the size and look asked for
    PictureState state = PictureState::Decoding;
    PictureFormat format = PictureFormat::None;
    DecodeFailure failure = DecodeFailure::None;
    std::shared_ptr<const Image> picture;  // a still format other than GIF
    std::shared_ptr<const Image> shown;    // composed by the worker at shownView
    View shownView;
    std::size_t frames = 0;

    std::mutex playerMutex;  // guards player, which the worker draws on
    std::unique_ptr<GifPlayer> player;
};

PicturePane::PicturePane(const PaneSettings& settings)
    : animated_(settings.animated), limits_(settings.limits) {
    view_.mode = settings.mode;
    view_.options = settings.view;
    view_.background = settings.background | 0xFF000000u;
}

PicturePane::~PicturePane() {
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(mutex_);
        job = std::move(job_);
    }
    if (job) retire(std::move(job));
    for (auto& old : retired_) old->thread.join();
}

std::shared_ptr<PicturePane::Job> PicturePane::currentJob() const {
    std::lock_guard lock(mutex_);
    return job_;
}

void PicturePane::retire(std::shared_ptr<Job> job) {
    {
        std::lock_guard lock(job->mutex);
        job->stop = true;
    }
    job->changed.notify_all();
    // The handshake: a callback running now finishes before this returns, and the job sees
    // the stop before any later one.
    { std::lock_guard barrier(callbackMutex_); }
    // Not waited for here: a newer picture never waits for an older decode or frame.
    if (job->thread.joinable()) retired_.push_back(std::move(job));
}

void PicturePane::setData(ByteBuffer data) {
    std::shared_ptr<Job> old;
    View view;
    {
        std::lock_guard lock(mutex_);
        old = std::move(job_);
        cache_ = {};  // the old picture is not shown again
        view = view_;
    }
    if (old) retire(std::move(old));
    std::erase_if(retired_, [](const std::shared_ptr<Job>& j) {
        if (!j->finished) return false;
        j->thread.join();
        return true;
    });
    data_ = std::move(data);
    if (data_.empty()) return;

    auto job = std::make_shared<Job>(data_, animated_, limits_);
    job->view = view;
    {
        std::lock_guard lock(mutex_);
        job_ = job;
    }
    try {
        job->thread = std::thread(&PicturePane::work, this, job);
    } catch (const std::system_error&) {
        // Without a thread the picture is decoded here, and an animation stays still.
        auto still = std::make_shared<Job>(data_, false, limits_);
        still->view = view;
        {
            std::lock_guard lock(mutex_);
            job_ = still;
        }
        work(still);
    }
}

void PicturePane::setAnimated(bool on) {
    if (on == animated_) return;
    animated_ = on;
    if (!data_.empty()) setData(data_);
}

void PicturePane::setFrameReadyCallback(FrameReady callback) {
    std::lock_guard lock(callbackMutex_);
    frameReady_ = std::move(callback);
}

void PicturePane::setPictureReadyCallback(PictureReady callback) {
    std::lock_guard lock(callbackMutex_);
    pictureReady_ = std::move(callback);
}

void PicturePane::updateView(const View& view) {
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(mutex_);
        if (view == view_) return;
        view_ = view;
        job = job_;
    }
    if (!job) return;
    {
        std::lock_guard lock(job->mutex);
        job->view = view;
    }
    job->changed.notify_all();
}

void PicturePane::setDisplayMode(DisplayMode mode) {
    View view = currentView();
    view.mode = mode;
    updateView(view);
}

void PicturePane::setViewOptions(const ViewOptions& options) {
    View view = currentView();
    view.options = options;
    updateView(view);
}

void PicturePane::setBackground(Pixel colour) {
    View view = currentView();
    view.background = colour | 0xFF000000u;
    updateView(view);
}

Pixel PicturePane::background() const {
    return currentView().background;
}

void PicturePane::setViewSize(int width, int height) {
    View view = currentView();
    view.width = std::max(width, 0);
    view.height = std::max(height, 0);
    updateView(view);
}

PicturePane::View PicturePane::currentView() const {
    std::lock_guard lock(mutex_);
    return view_;
}

PictureState PicturePane::state() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return PictureState::Empty;
    std::lock_guard lock(job->mutex);
    return job->state;
}

PictureFormat PicturePane::format() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return PictureFormat::None;
    std::lock_guard lock(job->mutex);
    return job->format;
}

DecodeFailure PicturePane::failure() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return DecodeFailure::None;
    std::lock_guard lock(job->mutex);
    return job->failure;
}

std::size_t PicturePane::framesShown() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return 0;
    std::lock_guard lock(job->mutex);
    return job->frames;
}

bool PicturePane::waitUntilReady(std::chrono::milliseconds timeout) const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return true;
    std::unique_lock lock(job->mutex);
    return job->changed.wait_for(lock, timeout,
                                 [&] { return job->state != PictureState::Decoding; });
}

std::shared_ptr<const Image> PicturePane::currentImage() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return nullptr;
    std::lock_guard lock(job->mutex);
    return job->picture;
}

std::pair<int, int> PicturePane::pictureSize() const {
    const std::shared_ptr<Job> job = currentJob();
    if (!job) return {0, 0};
    {
        std::lock_guard lock(job->mutex);
        if (job->picture) return {job->picture->width, job->picture->height};
        if (job->state != PictureState::Still && job->state != PictureState::Animated)
            return {0, 0};
    }
    std::lock_guard playerLock(job->playerMutex);
    if (!job->player) return {0, 0};
    return {job->player->tiles().width(), job->player->tiles().height()};
}

std::shared_ptr<const Image> PicturePane::composed(int width, int height) const {
    std::lock_guard lock(mutex_);
    View want = view_;
    want.width = width;
    want.height = height;
    const std::shared_ptr<Job> job = job_;
    PictureState state = PictureState::Empty;
    std::size_t frames = 0;
    std::shared_ptr<const Image> shown, picture;
    View shownView;
    if (job) {
        std::lock_guard jobLock(job->mutex);
        state = job->state;
        frames = job->frames;
        shown = job->shown;
        shownView = job->shownView;
        picture = job->picture;
    }
    if (cache_.image && cache_.job == job.get() && cache_.frame == frames && cache_.view == want)
        return cache_.image;

    std::shared_ptr<const Image> out;
    try {
        if (state != PictureState::Still && state != PictureState::Animated) {
            out = std::make_shared<const Image>(
                composePane(nullptr, want.mode, want.background, width, height, want.options));
        } else if (shown && shownView == want) {
            out = shown;  // what the worker made ahead
        } else if (picture) {
            out = std::make_shared<const Image>(composePane(
                picture.get(), want.mode, want.background, width, height, want.options));
        } else {
            std::lock_guard playerLock(job->playerMutex);
            out = std::make_shared<const Image>(
                job->player ? job->player->composeAt(want.mode, want.background, width, height,
                                                     want.options)
                            : composePane(nullptr, want.mode, want.background, width, height));
        }
    } catch (...) {
        // Out of memory: an empty pane, which draws as nothing.
        return std::make_shared<const Image>();
    }
    cache_ = {job.get(), frames, want, out};
    return out;
}

// ---- the worker ----------------------------------------------------------------------------

bool PicturePane::publish(const std::shared_ptr<Job>& job, News news) {
    std::lock_guard lock(callbackMutex_);
    if (job->stop) return false;
    const std::function<void()>& callback = news == News::Frame ? frameReady_ : pictureReady_;
    if (callback) callback();
    return true;
}

// The pane at the size it is shown at, made on the worker rather than at the first paint.
std::shared_ptr<const Image> PicturePane::composeView(Job& job,
                                                      const std::shared_ptr<const Image>& still,
                                                      const View& v) {
    if (v.width <= 0 || v.height <= 0) return nullptr;
    try {
        if (job.player) {
            std::lock_guard lock(job.playerMutex);
            job.player->setView(v.mode, v.background, v.width, v.height, v.options);
            return std::make_shared<const Image>(job.player->view());
        }
        if (still)
            return std::make_shared<const Image>(
                composePane(still.get(), v.mode, v.background, v.width, v.height, v.options));
    } catch (...) {
    }
    return nullptr;
}

void PicturePane::work(const std::shared_ptr<Job>& job) {
    struct Finished {
        Job& job;
        ~Finished() { job.finished = true; }
    } finished{*job};

    Content c = decodeContent(job->data, job->animated, job->limits);
    if (job->stop) return;
    View view;
    {
        std::lock_guard lock(job->mutex);
        view = job->view;
    }
    {
        std::lock_guard lock(job->playerMutex);
        job->player = std::move(c.player);
    }
    std::shared_ptr<const Image> shown = composeView(*job, c.image, view);
    if (job->stop) return;
    {
        std::lock_guard lock(job->mutex);
        job->state = c.state;
        job->format = c.format;
        job->failure = c.failure;
        job->picture = c.image;
        job->shown = shown;
        job->shownView = view;
        if (c.image || job->player) job->frames = 1;
    }
    job->changed.notify_all();
    if (!publish(job, News::Picture) || c.state != PictureState::Animated) return;
    animate(job, c.image, view, c.delay);
}

void PicturePane::animate(const std::shared_ptr<Job>& job,
                          const std::shared_ptr<const Image>& still, View view, int firstDelay) {
    // Each frame is due a delay after the one before, wherever drawing it ended, so the
    // animation keeps its pace as long as a frame takes less than its delay to draw.
    using Clock = std::chrono::steady_clock;
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(firstDelay);
    std::shared_ptr<const Image> shown;
    for (;;) {
        bool redraw = false;
        {
            std::unique_lock lock(job->mutex);
            job->changed.wait_until(
                lock, due, [&] { return job->stop.load() || !(job->view == job->shownView); });
            if (job->stop) return;
            if (!(job->view == job->shownView)) {
                view = job->view;
                redraw = true;
            }
        }
        int delay = 0;
        if (redraw) {
            shown = composeView(*job, still, view);
        } else {
            try {
                std::lock_guard lock(job->playerMutex);
                delay = job->player->drawNextFrame();
                shown = job->player->hasView() ? std::make_shared<const Image>(job->player->view())
                                               : nullptr;
            } catch (...) {
                return;  // out of memory: the last finished frame stays on show
            }
        }
        {
            std::lock_guard lock(job->mutex);
            job->shown = shown;
            job->shownView = view;
            if (!redraw) ++job->frames;
        }
        if (!publish(job, redraw ? News::Picture : News::Frame)) return;
        if (!redraw) due = std::max(due + std::chrono::milliseconds(delay), Clock::now());
    }
}

}  // namespace kerbilo
