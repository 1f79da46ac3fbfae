#include <png.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_session.h"
#include "picture/decoders.h"
#include "picture/picture_pane.h"
#include "runtime/file_services.h"
#include "test_images.h"

namespace kerbilo {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPngOnlyKinds =
    "[Config]\r\n\xD7\xCA\xD4\xB4\xD6\xD6\xC0\xE0\xCA\xFD=1\r\n1=PNG\r\n"
    "PNG_head=89504E470D0A1A0A0000000D\r\nPNG_tail=0000000049454E44AE426082\r\n"
    "PNG\xCD\xB7\xB2\xB9\xC6\xEB=89\r\n";

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("kerbilo_render_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const testing::ByteVector& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::string out() const { return (dir_ / "out.png").string(); }

    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        // The program directory is the test's own folder, so --resource without --config
        // writes its default kinds file there.
        PosixFileServices files(dir_.string());
        std::ostringstream out, err;
        cli::CliEnv env{files, out, err, nullptr};
        const int code = cli::renderCommand(env, static_cast<int>(argv.size()), argv.data());
        stderr_ = err.str();
        return code;
    }

    Decoded written() const {
        std::ifstream in(out(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        return decodePng(bytes);
    }

    fs::path dir_;
    std::string stderr_;
};

TEST_F(Render, DefaultPaneMatchesRenderPane) {
    const auto png = testing::makePng(testing::patternImage(600, 100), PNG_FORMAT_RGBA);
    ASSERT_EQ(run({write("in.png", png), "-o", out()}), 0);
    EXPECT_EQ(stderr_, "");
    const auto image = written();
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 464);
    ASSERT_EQ(image->height, 312);
    const Image expected = renderPane(testing::toBuffer(png), PaneSettings{}, 464, 312);
    EXPECT_EQ(image->pixels, expected.pixels);
    EXPECT_EQ(image->at(0, 0), makePixel(0xF0, 0xF0, 0xF0));
}

TEST_F(Render, OptionsReachThePane) {
    testing::GifFramePlan a, b;
    a.width = b.width = 1;
    a.height = b.height = 1;
    a.indices = {0};
    b.indices = {1};
    const auto gif = testing::makeGif(1, 1, {makePixel(255, 0, 0), makePixel(0, 0, 255)}, {a, b});
    const std::string in = write("in.gif", gif);
    ASSERT_EQ(run({in, "--size", "3x2", "--background=123456", "-o", out()}), 0);
    auto image = written();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels,
              (std::vector<Pixel>{makePixel(0x12, 0x34, 0x56), makePixel(255, 0, 0),
                                  makePixel(0x12, 0x34, 0x56), makePixel(0x12, 0x34, 0x56),
                                  makePixel(0x12, 0x34, 0x56), makePixel(0x12, 0x34, 0x56)}));
    ASSERT_EQ(run({in, "--size", "3x2", "--stretch", "--frame", "2", "-o", out()}), 0);
    image = written();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, std::vector<Pixel>(6, makePixel(0, 0, 255)));
}

// Three frames: K past the last counts round, and any K finishes at once.
TEST_F(Render, FramePastTheLastCountsRound) {
    std::vector<testing::GifFramePlan> frames(3);
    for (int i = 0; i < 3; ++i) {
        frames[static_cast<std::size_t>(i)].width = frames[static_cast<std::size_t>(i)].height = 1;
        frames[static_cast<std::size_t>(i)].indices = {static_cast<std::uint8_t>(i)};
    }
    const Pixel colours[3] = {makePixel(255, 0, 0), makePixel(0, 255, 0), makePixel(0, 0, 255)};
    const std::string in =
        write("in.gif", testing::makeGif(1, 1, {colours[0], colours[1], colours[2]}, frames));
    const struct {
        const char* frame;
        int shows;  // 0-based
    } cases[] = {{"1", 0}, {"3", 2}, {"4", 0}, {"8", 1}, {"9223372036854775807", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_EQ(run({in, "--size", "1x1", "--frame", c.frame, "-o", out()}), 0) << stderr_;
        const auto image = written();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixels, std::vector<Pixel>{colours[c.shows]});
    }
    std::vector<std::string> help = {"--help"};
    std::vector<char*> argv{help[0].data()};
    PosixFileServices files(dir_.string());
    std::ostringstream usage, err;
    cli::CliEnv env{files, usage, err, nullptr};
    ASSERT_EQ(cli::renderCommand(env, 1, argv.data()), 0);
    EXPECT_NE(usage.str().find("(K - 1) mod n + 1"), std::string::npos) << usage.str();
}

TEST_F(Render, NonPictureWritesBackgroundAndSaysWhy) {
    ASSERT_EQ(run({write("in.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}),
                   "--size", "4x4", "-o", out()}),
              0);
    EXPECT_NE(stderr_.find("not recognised"), std::string::npos) << stderr_;
    auto image = written();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, std::vector<Pixel>(16, makePixel(0xF0, 0xF0, 0xF0)));

    ASSERT_EQ(run({write("bad.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0}), "--size",
                   "4x4", "-o", out()}),
              0);
    EXPECT_NE(stderr_.find("could not be decoded (the data ends too early)"), std::string::npos)
        << stderr_;
    image = written();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, std::vector<Pixel>(16, makePixel(0xF0, 0xF0, 0xF0)));
}

TEST_F(Render, UnreadableInputOrOutputExitsOne) {
    EXPECT_EQ(run({(dir_ / "missing").string(), "-o", out()}), 1);
    EXPECT_NE(stderr_.find("cannot read"), std::string::npos);
    EXPECT_EQ(run({dir_.string(), "-o", out()}), 1);
    const std::string in = write("in.txt", {'x'});
    EXPECT_EQ(run({in, "-o", (dir_ / "no" / "such" / "dir.png").string()}), 1);
    EXPECT_NE(stderr_.find("cannot write"), std::string::npos);
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};
void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class RenderUsage : public Render, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(RenderUsage, ExitsTwoWithUsage) {
    std::vector<std::string> args;
    for (const auto& a : GetParam().args)
        args.push_back(a == "IN" ? write("in", {'x'}) : a == "OUT" ? out() : a);
    EXPECT_EQ(run(args), 2);
    EXPECT_NE(stderr_.find("usage: kerbilo-cli render"), std::string::npos) << stderr_;
    EXPECT_FALSE(fs::exists(out()));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RenderUsage,
    ::testing::Values(UsageCase{"NoArguments", {}}, UsageCase{"NoOutput", {"IN"}},
                      UsageCase{"NoInput", {"-o", "OUT"}},
                      UsageCase{"OutputWithoutFile", {"IN", "-o"}},
                      UsageCase{"TwoInputs", {"IN", "IN", "-o", "OUT"}},
                      UsageCase{"UnknownOption", {"IN", "-o", "OUT", "--zoom"}},
                      UsageCase{"SizeWithoutX", {"IN", "-o", "OUT", "--size", "300"}},
                      UsageCase{"SizeZero", {"IN", "-o", "OUT", "--size", "0x10"}},
                      UsageCase{"SizeTooLarge", {"IN", "-o", "OUT", "--size", "40000x1"}},
                      UsageCase{"BackgroundShort", {"IN", "-o", "OUT", "--background", "FFF"}},
                      UsageCase{"BackgroundNotHex", {"IN", "-o", "OUT", "--background", "GGGGGG"}},
                      UsageCase{"FrameZero", {"IN", "-o", "OUT", "--frame", "0"}},
                      UsageCase{"FrameText", {"IN", "-o", "OUT", "--frame", "two"}},
                      UsageCase{"ResourceZero", {"IN", "-o", "OUT", "--resource", "0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Render, ResourceOfAFileIsRenderedLikeItsOwnBytes) {
    const auto png = testing::makePng(testing::patternImage(40, 20), PNG_FORMAT_RGBA);
    testing::ByteVector file;
    file.reserve(png.size() + 350);
    file.resize(300, 'j');
    file.insert(file.end(), png.begin(), png.end());
    file.resize(file.size() + 50, 'k');
    const std::string config =
        write("kinds.config", testing::ByteVector(kPngOnlyKinds.begin(), kPngOnlyKinds.end()));
    ASSERT_EQ(run({write("in.bin", file), "--resource", "1", "--config", config, "-o", out()}), 0)
        << stderr_;
    const auto image = written();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, renderPane(testing::toBuffer(png), PaneSettings{}, 464, 312).pixels);

    EXPECT_EQ(run({write("in.bin", file), "--resource", "2", "--config", config, "-o", out()}), 2);
    EXPECT_NE(stderr_.find("has no resource 2"), std::string::npos);
    EXPECT_EQ(run({(dir_ / "missing").string(), "--resource", "1", "-o", out()}), 1);
}

}  // namespace
}  // namespace kerbilo
