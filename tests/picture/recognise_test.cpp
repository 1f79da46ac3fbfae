#include <gtest/gtest.h>

#include "picture/picture_format.h"
#include "test_images.h"

namespace kerbilo {
namespace {

struct RecogniseCase {
    const char* name;
    testing::ByteVector bytes;
    PictureFormat expected;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const RecogniseCase& c, std::ostream* os) {
    *os << c.name;
}

class Recognise : public ::testing::TestWithParam<RecogniseCase> {};

TEST_P(Recognise, FirstBytesDecideTheFormat) {
    const auto& c = GetParam();
    EXPECT_EQ(recognisePicture(c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Recognise,
    ::testing::Values(
        RecogniseCase{"Bmp", {'B', 'M', 0, 0, 0, 0, 0, 0}, PictureFormat::Bmp},
        RecogniseCase{"Jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0}, PictureFormat::Jpeg},
        RecogniseCase{"Png", {0x89, 'P', 'N', 'G', 0, 0, 0, 0}, PictureFormat::Png},
        RecogniseCase{"Ico", {0, 0, 1, 0, 1, 0, 0, 0}, PictureFormat::Ico},
        RecogniseCase{"Cur", {0, 0, 2, 0, 3, 0, 0, 0}, PictureFormat::Cur},
        RecogniseCase{"IcoWithoutImages", {0, 0, 1, 0, 0, 0, 0, 0}, PictureFormat::None},
        RecogniseCase{"Gif87", {'G', 'I', 'F', '8', '7', 'a', 0, 0}, PictureFormat::Gif},
        RecogniseCase{"Gif89", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, PictureFormat::Gif},
        RecogniseCase{"Gif88", {'G', 'I', 'F', '8', '8', 'a', 0, 0}, PictureFormat::None},
        RecogniseCase{"Pcx256", {0x0A, 5, 1, 8, 0, 0, 0, 0}, PictureFormat::Pcx256},
        RecogniseCase{"Pcx256Version0", {0x0A, 0, 1, 8, 0, 0, 0, 0}, PictureFormat::Pcx256},
        RecogniseCase{"PcxVersion6", {0x0A, 6, 1, 8, 0, 0, 0, 0}, PictureFormat::None},
        RecogniseCase{"PcxMono", {0x0A, 3, 1, 1, 0, 0, 0, 0}, PictureFormat::PcxMono},
        RecogniseCase{"PcxMonoOtherVersion", {0x0A, 5, 1, 1, 0, 0, 0, 0}, PictureFormat::None},
        // Earlier checks win: these bytes also start like nothing else but BMP.
        RecogniseCase{"BmpBeatsEverything", {'B', 'M', 'G', 'I', 'F', 0, 0, 0}, PictureFormat::Bmp},
        RecogniseCase{"SevenBytePng", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, PictureFormat::None},
        RecogniseCase{"Empty", {}, PictureFormat::None},
        RecogniseCase{
            "Text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, PictureFormat::None}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kerbilo
