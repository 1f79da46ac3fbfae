// Measures the thumbnail grid over 10,000 pictures (icons, small PNGs and photographs as
// JPEGs) as a user meets it: how long until the first screen is filled, how long the window
// stops answering while the grid is flicked through from top to bottom and jumped around
// in, and how much the thumbnails it keeps take.
// A 1 ms timer runs throughout; its longest gap is how long the window did not answer.
// Prints one line per figure, "name value unit"; nothing is judged here.
// Usage: kerbilo_thumbnail_perf [THUMBNAIL_SIZE]

#include <png.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../picture/test_images.h"
#include "perf_meters.h"
#include "ui/services/qt/thumbnail_view.h"

namespace {

using namespace kerbilo;

constexpr int kItems = 10000;

// Smooth areas with some noise: a photograph's worth of work for the decoder.
Image photo(int w, int h, int seed) {
    Image image;
    image.width = w;
    image.height = h;
    image.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::uint32_t noise = static_cast<std::uint32_t>(seed) + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = static_cast<int>(noise >> 28);
            image.at(x, y) = makePixel(((x >> 3) + seed * 9 + n) & 0xFF, ((y >> 3) + n) & 0xFF,
                                       ((x + y) >> 4) & 0xFF);
        }
    return image;
}

// 200 distinct pictures; item i shows picture i % 200, each decoded for itself. Two in
// five are icons, two in five 320x240 PNGs, one in five 1024x768 JPEGs.
std::vector<ByteBuffer> pictures() {
    std::vector<ByteBuffer> all;
    for (int k = 0; k < 200; ++k) {
        if (k % 5 < 2) {
            const int side = k % 2 ? 32 : 16;
            all.push_back(testing::toBuffer(testing::makeIcon(
                {{side, 0,
                  testing::makeIconDib(
                      photo(side, side, k),
                      std::vector<bool>(static_cast<std::size_t>(side * side)))}})));
        } else if (k % 5 < 4) {
            all.push_back(testing::toBuffer(testing::makePng(photo(320, 240, k), PNG_FORMAT_RGB)));
        } else {
            all.push_back(testing::toBuffer(
                testing::makeJpeg(photo(1024, 768, k), testing::JpegKind::Colour, 85)));
        }
    }
    return all;
}

// Runs the event loop until the view has nothing left to decode; the milliseconds it took.
double untilIdle(const ThumbnailView& view) {
    QElapsedTimer clock;
    clock.start();
    while (!view.idle() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void report(const char* name, double value, const char* unit) {
    std::printf("%s %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const int size = argc > 1 ? std::atoi(argv[1]) : 128;

    const std::vector<ByteBuffer> data = pictures();
    ThumbnailView view;
    view.resize(1024, 768);
    view.setThumbnailSize(size);
    view.show();
    std::size_t peakBytes = 0;  // the most the cache held at any tick
    testing::GapMeter meter(1, [&] { peakBytes = std::max(peakBytes, view.cachedBytes()); });
    QElapsedTimer clock;

    // ---- the first screen ---------------------------------------------------------------
    meter.start();
    clock.start();
    view.setItems(
        kItems, [&data](int i) { return data[static_cast<std::size_t>(i) % data.size()]; },
        [](int i) { return QStringLiteral("资源 %1").arg(i + 1); });
    const double setMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double firstScreenMs = untilIdle(view);
    meter.stop();
    report("thumbnail_size", view.thumbnailSize(), "px");
    report("columns", view.columns(), "");
    report("set_items_ms", setMs, "ms");
    report("first_screen_ms", firstScreenMs, "ms");
    report("first_screen_decoded", view.decodedCount(), "pictures");
    report("first_screen_longest_gap_ms", meter.longest(), "ms");

    // ---- the floor: the same timer with nothing to do, on a machine others share -------
    meter.start();
    clock.start();
    while (clock.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    meter.stop();
    report("quiet_longest_gap_ms", meter.longest(), "ms");

    // ---- painting a full screen of thumbnails -----------------------------------------
    constexpr int kRepaints = 50;
    clock.start();
    for (int i = 0; i < kRepaints; ++i) view.viewport()->repaint();
    report("repaint_ms", static_cast<double>(clock.nsecsElapsed()) / 1e6 / kRepaints, "ms");

    // ---- a flick from top to bottom: a page every 16 ms frame ---------------------------
    QScrollBar* bar = view.verticalScrollBar();
    meter.start();
    clock.start();
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frames, &QTimer::timeout,
                     [&] { bar->setValue(bar->value() + bar->pageStep()); });
    frames.start(16);
    while (bar->value() < bar->maximum())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    frames.stop();
    const double flickMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double settleMs = untilIdle(view);
    meter.stop();
    report("flick_ms", flickMs, "ms");
    report("flick_settle_ms", settleMs, "ms");
    report("flick_longest_gap_ms", meter.longest(), "ms");
    report("flick_decoded", view.decodedCount(), "pictures");

    // ---- a slow scroll back up: a row every 16 ms, every thumbnail wanted ---------------
    const int rowsToScroll = 400;
    const int row = view.itemRect(0).height();
    meter.start();
    int steps = 0;
    QObject::disconnect(&frames, nullptr, nullptr, nullptr);
    QObject::connect(&frames, &QTimer::timeout, [&] {
        bar->setValue(bar->value() - row);
        ++steps;
    });
    frames.start(16);
    while (steps < rowsToScroll && bar->value() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    frames.stop();
    untilIdle(view);
    meter.stop();
    report("scroll_rows", steps, "rows");
    report("scroll_longest_gap_ms", meter.longest(), "ms");
    report("scroll_decoded", view.decodedCount(), "pictures");

    // ---- jumps: the bar dragged to 40 places at random ----------------------------------
    std::mt19937 rng(11);
    double worstJump = 0, allJumps = 0;
    constexpr int kJumps = 40;
    meter.start();
    for (int j = 0; j < kJumps; ++j) {
        bar->setValue(static_cast<int>(rng() % static_cast<unsigned>(bar->maximum() + 1)));
        const double ms = untilIdle(view);
        worstJump = std::max(worstJump, ms);
        allJumps += ms;
    }
    meter.stop();
    report("jump_screen_ready_mean_ms", allJumps / kJumps, "ms");
    report("jump_screen_ready_max_ms", worstJump, "ms");
    report("jump_longest_gap_ms", meter.longest(), "ms");

    // ---- what is kept ------------------------------------------------------------------
    report("cache_peak_mib", static_cast<double>(peakBytes) / (1 << 20), "MiB");
    report("cache_budget_mib", static_cast<double>(view.cacheBudget()) / (1 << 20), "MiB");
    report("decoded_total", view.decodedCount(), "pictures");
    report("resident_peak_mib", testing::residentMib("VmHWM:"), "MiB");
    return 0;
}
