#include "app/reason_texts.h"

#include <string>

#include "runtime/gbk.h"

namespace kerbilo {

namespace {

// UTF-8 here for the reader; "%" stands for the item, as in the English words.
const char* chineseWords(Reason reason) {
    switch (reason) {
        case Reason::None:
            return "";
        case Reason::NotRecognised:
            return "不是可识别的图片格式";
        case Reason::FileEndsInside:
            return "数据在图片中途结束";
        case Reason::FormatGoesOn:
            return "图片在资源之后还有 % 字节";
        case Reason::BytesAfterEnd:
            return "图片结束后多出 % 字节";
        case Reason::NoEndOfItsOwn:
            return "格式本身没有结束标记";
        case Reason::NoTrailer:
            return "缺少结束符";
        case Reason::PixelsUnchecked:
            return "像素数据未检查：图片过大或编码方式不支持";
        case Reason::NoPngSignature:
            return "没有 PNG 签名";
        case Reason::ChunkLength:
            return "数据块长度超出范围";
        case Reason::ChunkType:
            return "数据块类型不是四个字母";
        case Reason::FirstChunkNotHeader:
            return "第一个数据块不是 IHDR";
        case Reason::ChunkCrc:
            return "数据块 CRC 不符";
        case Reason::SecondHeader:
            return "出现第二个 IHDR 数据块";
        case Reason::HeaderLength:
            return "IHDR 长度不是 13";
        case Reason::ImageSize:
            return "图片尺寸超出范围";
        case Reason::DepthOrColour:
            return "位深或颜色类型无效";
        case Reason::EndBeforeData:
            return "IEND 出现在任何 IDAT 之前";
        case Reason::HeaderMethod:
            return "压缩、过滤或隔行方式未知";
        case Reason::ZlibEndsEarly:
            return "zlib 数据流提前结束";
        case Reason::ZlibCorrupt:
            return "zlib 数据流已损坏";
        case Reason::ZlibTooLong:
            return "zlib 数据流多于图片各行所需";
        case Reason::RowFilter:
            return "行过滤方式未知";
        case Reason::NoStartOfImage:
            return "没有图像开始标记";
        case Reason::ExpectedMarker:
            return "此处应为标记";
        case Reason::EndsBeforeScan:
            return "在任何扫描之前结束";
        case Reason::MarkerOutOfPlace:
            return "标记位置不对";
        case Reason::SecondStartOfImage:
            return "出现第二个图像开始标记";
        case Reason::ReservedMarker:
            return "保留的标记";
        case Reason::SegmentLength:
            return "段长度小于 2";
        case Reason::FrameHeaderShort:
            return "帧头过短";
        case Reason::FrameHeaderLength:
            return "帧头长度与分量数不符";
        case Reason::FrameWidthZero:
            return "帧宽度为 0";
        case Reason::ScanBeforeFrame:
            return "扫描出现在帧头之前";
        case Reason::ScanHeaderShort:
            return "扫描头过短";
        case Reason::ScanHeaderLength:
            return "扫描头长度与分量数不符";
        case Reason::EntropyDataCorrupt:
            return "熵编码数据已损坏";
        case Reason::EntropyDataEndsEarly:
            return "熵编码数据提前结束";
        case Reason::NoGifSignature:
            return "没有 GIF 签名";
        case Reason::TrailerBeforeImage:
            return "结束符出现在任何图像之前";
        case Reason::UnknownBlock:
            return "未知的数据块";
        case Reason::LzwCodeSize:
            return "第 % 帧：LZW 编码长度超出范围";
        case Reason::LzwEndsEarly:
            return "第 % 帧：LZW 数据在最后一个像素之前结束";
        case Reason::LzwCorrupt:
            return "第 % 帧：LZW 编码超出范围";
        case Reason::LzwTooLong:
            return "第 % 帧：LZW 数据在最后一个像素之后还有很多";
        case Reason::NoBmpSignature:
            return "没有 BMP 签名";
        case Reason::UnknownHeaderSize:
            return "文件头大小未知";
        case Reason::PlaneCount:
            return "平面数不是 1";
        case Reason::WidthNotPositive:
            return "宽度不是正数";
        case Reason::HeightRange:
            return "高度超出范围";
        case Reason::ColourCount:
            return "颜色数超出位数所能索引的范围";
        case Reason::EntryColourCount:
            return "第 % 项的颜色数超出位数所能索引的范围";
        case Reason::BitCount:
            return "位数无效";
        case Reason::PixelSizeOverflows:
            return "像素数据大小溢出";
        case Reason::CompressedWithoutSize:
            return "压缩图片没有给出大小";
        case Reason::UnknownCompression:
            return "压缩方式未知";
        case Reason::PixelsOverlapHeaders:
            return "像素数据与文件头重叠";
        case Reason::RleEndsEarly:
            return "行程编码数据在位图结束标记之前就结束了";
        case Reason::RleOutsideImage:
            return "行程编码数据移到了图片之外";
        case Reason::NoIconDirectory:
            return "没有图标目录";
        case Reason::NoIconImage:
            return "目录中没有图像";
        case Reason::EntryTooSmall:
            return "第 % 项太小，容不下图像";
        case Reason::EntryOverlapsDirectory:
            return "第 % 项与目录重叠";
        case Reason::EntryNotAnImage:
            return "第 % 项既不是 PNG 也不是位图";
        case Reason::EntryPastFile:
            return "第 % 项指向文件之外";
        case Reason::EntryBitCount:
            return "第 % 项位数无效";
        case Reason::EntrySizeDisagrees:
            return "第 % 项的尺寸与目录不符";
        case Reason::EntryPngDamaged:
            return "第 % 项的 PNG 已损坏";
        case Reason::EntryPixelsMissing:
            return "第 % 项在像素数据结束之前就结束了";
    }
    return "";
}

}  // namespace

Text reasonText(Reason reason, std::int64_t item) {
    std::string words = chineseWords(reason);
    if (const std::size_t at = words.find('%'); at != std::string::npos)
        words.replace(at, 1, std::to_string(item));
    return utf8ToGbk(words);
}

}  // namespace kerbilo
