// kerbilo-cli inspect, and --ends format on the commands that scan: pictures written by
// real tools, embedded in other bytes, are told apart from what the tail cut, and come out
// of export byte for byte.

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli_fixture.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "runtime/sha256.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

std::string hash(const ByteBuffer& b) {
    return sha256Hex(b.data(), b.size());
}

class Inspect : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        gif = fixturePicture("rose_anim.gif");
        jpeg = fixturePicture("rose_exif.jpg");
        png = fixturePicture("rose_text.png");
        ASSERT_FALSE(gif.empty());
        // GIF at 16, the EXIF JPEG after it, a PNG last, all between other bytes.
        const ByteBuffer pad = ByteBuffer::fromText(std::string(16, 'z'));
        gifAt = 16;
        jpegAt = gifAt + bufferLength(gif) + 16;
        pngAt = jpegAt + bufferLength(jpeg) + 16;
        write("mixed.bin", concatBytes({pad, gif, pad, jpeg, pad, png, pad}));
        write("recommended.config", recommendedKinds());
    }
    ByteBuffer gif, jpeg, png;
    std::int64_t gifAt = 0, jpegAt = 0, pngAt = 0;
};

TEST_F(Inspect, TellsWhatTheTailCutShort) {
    ASSERT_EQ(run({"inspect", path("mixed.bin")}), 0) << err;
    const std::string header =
        "number\tkind\tlabel\toffset\tlength\tformat\twidth\theight\tframes\tverdict\textent\t"
        "sha256\treason\n";
    ASSERT_EQ(out.substr(0, header.size()), header);
    // The default kinds: the PNG is whole; the GIF ends at the 00 3B in its data.
    EXPECT_NE(out.find("\t" + std::to_string(pngAt) + "\t" + std::to_string(png.size()) +
                       "\tPNG\t70\t46\t1\tcomplete\t" + std::to_string(png.size()) + "\t" +
                       hash(png) + "\t\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\tGIF\t11\t" + std::to_string(gifAt) + "\t"), std::string::npos) << out;
    EXPECT_NE(out.find("\tGIF\t70\t46\t3\tcut-short\t" + std::to_string(gif.size()) + "\t"),
              std::string::npos)
        << out;
}

TEST_F(Inspect, JsonHasTheSameFieldsAndNullsForUnknowns) {
    write("text.bin", concatBytes({ByteBuffer{0x47, 0x49, 0x46, 0x38}, ByteBuffer::fromText("xy"),
                                   ByteBuffer{0x00, 0x3B}}));
    ASSERT_EQ(run({"inspect", "--json", path("text.bin")}), 0) << err;
    const ByteBuffer data{0x47, 0x49, 0x46, 0x38, 'x', 'y', 0x00, 0x3B};
    EXPECT_EQ(out,
              "[\n{\"number\":1,\"kind\":\"GIF\",\"label\":\"1\",\"offset\":0,\"length\":8,"
              "\"format\":null,\"width\":null,\"height\":null,\"frames\":null,"
              "\"verdict\":\"not-a-picture\",\"extent\":null,\"sha256\":\"" +
                  hash(data) + "\",\"reason\":\"not a recognised picture format\"}\n]\n");
}

// With the ending by format, from the recommended kinds file or from the option, every
// exported picture is the original file, and inspect finds it complete.
TEST_F(Inspect, EndsByFormatExportsEveryPictureWhole) {
    Text plain(read("recommended.config").view());
    for (std::size_t at; (at = plain.find(utf8ToGbk("结束方式=格式"))) != Text::npos;)
        plain.erase(plain.rfind("\r\n", at), plain.find("\r\n", at) - plain.rfind("\r\n", at));
    write("plain.config", ByteBuffer::fromText(plain));
    const std::vector<std::vector<std::string>> ways = {
        {"--config", path("recommended.config")},
        {"--config", path("plain.config"), "--ends", "format"},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.back());
        std::filesystem::remove_all(path("out"));
        ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
        std::vector<std::string> args = {"export", path("mixed.bin"), "--out", path("out")};
        args.insert(args.end(), way.begin(), way.end());
        ASSERT_EQ(run(args), 0) << err;
        const auto label = [](std::int64_t offset) {
            std::ostringstream hex;
            hex << std::uppercase << std::hex << offset + 1;
            return hex.str();
        };
        EXPECT_EQ(read("out/mixed.bin/" + label(gifAt) + ".gif"), gif);
        EXPECT_EQ(read("out/mixed.bin/" + label(jpegAt) + ".jpg"), jpeg);
        EXPECT_EQ(read("out/mixed.bin/" + label(pngAt) + ".png"), png);

        args = {"inspect", path("mixed.bin")};
        args.insert(args.end(), way.begin(), way.end());
        ASSERT_EQ(run(args), 0) << err;
        EXPECT_EQ(out.find("cut-short"), std::string::npos) << out;
    }
}

TEST_F(Inspect, EndsTakesTailOrFormat) {
    ASSERT_EQ(run({"list", path("mixed.bin"), "--ends", "tail"}), 0);
    const std::string byTail = out;
    ASSERT_EQ(run({"list", path("mixed.bin")}), 0);
    EXPECT_EQ(out, byTail);
    for (const char* command : {"list", "inspect", "export"}) {
        EXPECT_EQ(run({command, path("mixed.bin"), "--ends", "middle"}), 2) << command;
        EXPECT_NE(err.find("--ends takes tail or format"), std::string::npos) << err;
    }
    ASSERT_EQ(run({"inspect", "--help"}), 0);
    for (const char* word : {"verdict", "cut-short", "sha256", "--ends"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
}

// --verdict keeps the rows whose verdict is listed, each with the number it has without
// the filter, in list, inspect and export alike. The file holds a whole PNG, a GIF the
// tail cuts short, and a PNG-shaped run that is no picture.
TEST_F(Inspect, VerdictKeepsTheChosenRowsWithTheirNumbers) {
    const ByteBuffer fake = pngResource(11, 'q');
    write("three.bin", concatBytes({read("mixed.bin"), fake}));
    ASSERT_EQ(run({"inspect", path("three.bin")}), 0) << err;
    std::map<std::string, std::vector<std::string>> numbersOf;  // verdict: numbers
    std::istringstream rows(out);
    std::string line;
    std::getline(rows, line);  // the header
    while (std::getline(rows, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
        ASSERT_GE(cells.size(), 10u) << line;
        numbersOf[cells[9]].push_back(cells[0]);
    }
    ASSERT_EQ(numbersOf.count("complete"), 1u) << out;
    ASSERT_EQ(numbersOf.count("damaged"), 1u) << out;
    ASSERT_EQ(numbersOf.count("cut-short"), 1u) << out;

    const auto numbersListed = [&](const std::vector<std::string>& args) {
        EXPECT_EQ(run(args), 0) << err;
        std::vector<std::string> numbers;
        std::istringstream listed(out);
        std::getline(listed, line);
        while (std::getline(listed, line)) numbers.push_back(line.substr(0, line.find('\t')));
        return numbers;
    };
    for (const char* command : {"list", "inspect"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(numbersListed({command, path("three.bin"), "--verdict", "complete"}),
                  numbersOf["complete"]);
        EXPECT_EQ(numbersListed({command, path("three.bin"), "--verdict", "damaged"}),
                  numbersOf["damaged"]);
        std::vector<std::string> both = numbersOf["cut-short"];
        both.insert(both.end(), numbersOf["damaged"].begin(), numbersOf["damaged"].end());
        std::sort(both.begin(), both.end(), [](const std::string& a, const std::string& b) {
            return std::stoi(a) < std::stoi(b);
        });
        EXPECT_EQ(numbersListed({command, path("three.bin"), "--verdict=damaged,cut-short"}), both);
    }

    ASSERT_EQ(run({"export", path("three.bin"), "--out", path("whole"), "--verdict", "complete"}),
              0)
        << err;
    EXPECT_NE(out.find("wrote " + std::to_string(numbersOf["complete"].size()) + " of " +
                       std::to_string(numbersOf["complete"].size()) + " files"),
              std::string::npos)
        << out;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path("whole/three.bin")))
        files += entry.path().filename() != "manifest.tsv";
    EXPECT_EQ(files, numbersOf["complete"].size());
    const std::string manifest(read("whole/three.bin/manifest.tsv").view());
    EXPECT_EQ(manifest.find("damaged"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("cut-short"), std::string::npos) << manifest;

    for (const char* command : {"list", "inspect", "export"}) {
        EXPECT_EQ(run({command, path("three.bin"), "--verdict", "whole"}), 2) << command;
        EXPECT_NE(err.find("--verdict takes"), std::string::npos) << err;
    }
    EXPECT_EQ(run({"export", path("three.bin"), "--resource", "1", "-o", path("one"), "--verdict",
                   "complete"}),
              2);
}

}  // namespace
}  // namespace kerbilo::testing
