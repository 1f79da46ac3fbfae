#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "picture/decoders.h"
#include "picture/gif.h"
#include "picture/picture_pane.h"

namespace kerbilo {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesUnder(const char* sub) {
    const char* root = std::getenv("KERBILO_TEST_DATA");
    std::vector<fs::path> files;
    if (!root) return files;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(root) / "picture" / sub))
        if (e.is_regular_file()) files.push_back(e.path());
    return files;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Inputs that once crashed or hung a decoder, and hostile headers written by hand: every
// decoder must give a result or nothing, and the pane must still draw its background.
TEST(Regress, EveryFileThroughEveryDecoder) {
    const auto files = filesUnder("regress");
    ASSERT_FALSE(files.empty()) << "KERBILO_TEST_DATA not set or regress folder missing";
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const auto bytes = readAll(path);
        const Bytes data(bytes.data(), bytes.size());
        (void)decodeBmp(data);
        (void)decodeJpeg(data);
        (void)decodePng(data);
        (void)decodeIcon(data);
        (void)decodePcx(data);
        (void)decodeGifStill(data);
        PictureState state{};
        const Image pane =
            renderPane(ByteBuffer(bytes.data(), bytes.size()), PaneSettings{}, 50, 40, 4, &state);
        EXPECT_EQ(pane.width, 50);
    }
}

TEST(Regress, SeedCorpusDecodes) {
    const auto files = filesUnder("corpus");
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = readAll(path);
        EXPECT_TRUE(decodePicture(Bytes(bytes.data(), bytes.size())));
    }
}

}  // namespace
}  // namespace kerbilo
