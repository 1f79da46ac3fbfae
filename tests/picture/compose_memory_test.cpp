// What composing allocates, counted with operator new replaced (allocation_count.cpp),
// hence an executable of its own.

#include <gtest/gtest.h>

#include "allocation_count.h"
#include "picture/compose.h"

namespace kerbilo {
namespace {

using testing::AllocationCount;

constexpr Pixel kRed = makePixel(255, 0, 0);
constexpr Pixel kBlue = makePixel(0, 0, 255);

// A picture one pixel wide, its top half red and its bottom half blue.
Image tallAndThin(int height, ImageKind kind) {
    Image image;
    image.width = 1;
    image.height = height;
    image.kind = kind;
    image.pixels.assign(static_cast<std::size_t>(height), kBlue);
    std::fill_n(image.pixels.begin(), height / 2, kRed);
    return image;
}

struct TallCase {
    const char* name;
    ImageKind kind;
    bool checkerboard;
};

class ComposeTallPicture : public ::testing::TestWithParam<TallCase> {};

// Stretched across a wide pane, each source row is scaled to the pane's width before the
// rows are averaged down; what that keeps must follow the pane, not the picture's height.
TEST_P(ComposeTallPicture, StretchedOverAWidePaneTakesMemoryOfThePaneOnly) {
    const Image image = tallAndThin(32768, GetParam().kind);
    constexpr int kWidth = 1920, kHeight = 1000;
    ViewOptions view;
    view.checkerboard = GetParam().checkerboard;
    AllocationCount count;
    const Image pane =
        composePane(&image, DisplayMode::Stretched, 0xFF336699u, kWidth, kHeight, view);
    EXPECT_LT(count.bytes(), std::size_t{4} * kWidth * kHeight * sizeof(Pixel));
    ASSERT_EQ(pane.width, kWidth);
    ASSERT_EQ(pane.height, kHeight);
    // The halves land in the halves, whole across the pane; only the middle row mixes.
    for (int x : {0, kWidth / 2, kWidth - 1}) {
        EXPECT_EQ(pane.at(x, 0), kRed);
        EXPECT_EQ(pane.at(x, kHeight / 2 - 1), kRed);
        EXPECT_EQ(pane.at(x, kHeight / 2 + 1), kBlue);
        EXPECT_EQ(pane.at(x, kHeight - 1), kBlue);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ComposeTallPicture,
                         ::testing::Values(TallCase{"Colour", ImageKind::Colour, false},
                                           TallCase{"AlphaOverCheckerboard", ImageKind::Alpha,
                                                    true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kerbilo
