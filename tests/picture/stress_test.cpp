// Built on its own so it can run under ThreadSanitizer: switches the data of animating
// panes as fast as possible and destroys panes while their workers draw.

#include <png.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "picture/picture_pane.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using namespace std::chrono_literals;

ByteBuffer animation(int frames, int delay, int size) {
    std::vector<testing::GifFramePlan> images;
    for (int i = 0; i < frames; ++i) {
        testing::GifFramePlan f;
        f.width = f.height = size;
        f.delay = delay;
        f.disposal = i % 4;
        f.indices.assign(static_cast<std::size_t>(size * size), static_cast<std::uint8_t>(i % 4));
        images.push_back(f);
    }
    return testing::toBuffer(testing::makeGif(
        size, size,
        {makePixel(255, 0, 0), makePixel(0, 255, 0), makePixel(0, 0, 255), makePixel(0, 0, 0)},
        images));
}

TEST(Threads, SwitchingDataWhileAnimating) {
    const ByteBuffer fast = animation(3, 0, 8);     // 50 ms frames
    const ByteBuffer faster = animation(4, 1, 16);  // 10 ms frames
    const ByteBuffer still = testing::toBuffer(testing::makeGif(1, 1, {makePixel(1, 2, 3)}, {[] {
                                                                    testing::GifFramePlan f;
                                                                    f.width = f.height = 1;
                                                                    f.indices = {0};
                                                                    return f;
                                                                }()}));
    PicturePane pane;
    std::atomic<int> frames{0};
    // The callback composes from the worker thread, as a toolkit's paint may run while the
    // worker hands over the next frame.
    pane.setFrameReadyCallback([&] {
        ++frames;
        (void)pane.compose(5, 5);
    });
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    int switches = 0;
    for (; switches < 3000 && std::chrono::steady_clock::now() < deadline; ++switches) {
        pane.setData(switches % 5 == 4 ? still : (switches % 2 ? fast : faster));
        (void)pane.compose(7, 3);
        if (switches % 50 == 0) std::this_thread::sleep_for(12ms);  // let frames flow
        if (switches % 97 == 0) pane.setAnimated(switches % 2 == 0);
    }
    pane.setAnimated(true);
    pane.setData(faster);
    std::this_thread::sleep_for(60ms);
    EXPECT_GT(frames.load(), 0);
    EXPECT_GE(switches, 1000);
}

// Still pictures decoded on workers, each superseded while it decodes, with the view size,
// background and mode changing meanwhile; the pane is destroyed with decodes running.
TEST(Threads, SupersedingDecodesAndChangingTheView) {
    const ByteBuffer big = testing::toBuffer(
        testing::makeJpeg(testing::patternImage(600, 400), testing::JpegKind::Colour, 90));
    const ByteBuffer png =
        testing::toBuffer(testing::makePng(testing::patternImage(200, 100), PNG_FORMAT_RGBA));
    const ByteBuffer gif = animation(3, 1, 40);
    const auto deadline = std::chrono::steady_clock::now() + 6s;
    int rounds = 0;
    std::atomic<int> ready{0};
    for (; rounds < 300 && std::chrono::steady_clock::now() < deadline; ++rounds) {
        PicturePane pane;
        pane.setPictureReadyCallback([&] {
            ++ready;
            (void)pane.composed(30, 20);
        });
        pane.setFrameReadyCallback([&] { (void)pane.composed(30, 20); });
        for (int i = 0; i < 6; ++i) {
            pane.setViewSize(30 + i % 2, 20);
            pane.setData(i % 3 == 0 ? big : i % 3 == 1 ? png : gif);
            pane.setBackground(static_cast<Pixel>(i * 0x010203));
            pane.setDisplayMode(i % 2 ? DisplayMode::Stretched : DisplayMode::Centred);
            (void)pane.composed(31, 20);
            if (i == rounds % 6) pane.waitUntilReady();
        }
    }
    EXPECT_GT(ready.load(), 0);
    EXPECT_GE(rounds, 50);
}

TEST(Threads, DestroyingPanesMidAnimation) {
    const ByteBuffer gif = animation(5, 1, 12);
    const auto deadline = std::chrono::steady_clock::now() + 6s;
    int destroyed = 0;
    for (; destroyed < 2000 && std::chrono::steady_clock::now() < deadline; ++destroyed) {
        std::vector<std::unique_ptr<PicturePane>> panes;
        for (int i = 0; i < 3; ++i) {
            panes.push_back(std::make_unique<PicturePane>());
            panes.back()->setFrameReadyCallback(
                [p = panes.back().get()] { (void)p->compose(4, 4); });
            panes.back()->setData(gif);
        }
        if (destroyed % 20 == 0) std::this_thread::sleep_for(15ms);
        // Destroyed in creation order, while each worker may be drawing or handing over.
    }
    EXPECT_GE(destroyed, 500);
}

}  // namespace
}  // namespace kerbilo
