#include "cli/messages.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/gbk.h"

namespace kerbilo::cli {

namespace {

struct Phrase {
    const char* english;
    const char* chinese;
};

// Every phrase of a message about files; the rest of a message is a path or a number.
constexpr Phrase kPhrases[] = {
    {"cannot open", "无法打开"},
    {"cannot read", "无法读取"},
    {"cannot write", "无法写出"},
    {"cannot save", "无法保存"},
    {"cannot create folder", "无法创建文件夹"},
    {"cannot read the folder", "无法读取文件夹"},
    {"cannot read the kinds file", "无法读取资源种类文件"},
    {"is a folder; give -r to read the files in it", "是文件夹;要读取其中的文件请加 -r"},
    {"no resource kinds could be read from", "无法读取任何资源种类:"},
    {"; nothing is searched for", ";不搜索任何资源"},
    {"looked for the keys", "查找的键为"},
    {"in the section", "所在节"},
    {"the kind", "资源种类"},
    {"is not searched for: its suffix holds \"/\", \"..\" or NUL and would name a path "
     "outside the output folder",
     "不搜索:它的文件后缀含有\"/\"、\"..\"或空字符,会写到输出文件夹之外"},
    {"the file has no resource", "文件中没有资源"},
    {"resource", "资源"},
    {"would grow the file; give --yes to allow it", "会使文件变大;要允许请加 --yes"},
    {"is no longer in the file: an earlier replacement rewrote its bytes; nothing was written",
     "已不在文件中:之前的替换改写了它的字节;什么也没有写出"},
    {"not enough memory to replace resource", "内存不足,无法替换资源"},
    {"; nothing was written", ";什么也没有写出"},
    {"the new data is longer than the resource:", "新数据比原资源长:"},
    {"bytes instead of", "字节,原为"},
    {"bytes", "字节"},
    {"cannot take that file: an icon takes an .ico or .png file, a cursor a .cur file, a "
     "bitmap a .bmp file",
     "不能使用该文件:图标需要 .ico 或 .png 文件,光标需要 .cur 文件,位图需要 .bmp 文件"},
    {"the new file's structure is damaged", "新文件的结构已损坏"},
    {"the program that held it no longer reads as one", "它所在的程序已无法读取"},
    {"the program's resource directory is damaged, and rewriting it would lose resources",
     "程序的资源目录已损坏,重写会丢失资源"},
    {"the program's headers have no room for another section", "程序的文件头没有空间再加一个节"},
    {"the program's resources would pass the format's limits", "程序的资源将超出格式的限制"},
    {"the program as written did not read back as it should", "写出的程序无法按原样读回"},
    {"a program's picture inside compressed data cannot be replaced",
     "压缩数据中的程序里的图片不能替换"},
    {"the compressed data around it does not read whole, is encrypted or uses a method that "
     "cannot be written",
     "它所在的压缩数据已无法完整读取、已加密或压缩方法不能写出"},
    {"the stream compressed anew is longer than the old one, and what follows it is of no "
     "known container",
     "重新压缩后的数据流比原来的长,而数据流之后的内容不知属于什么"},
    {"inflating stopped:", "解压停止:"},
    {"the data ends early", "数据提前结束"},
    {"the data is damaged", "数据已损坏"},
    {"the limit per stream was reached (512 MiB unless the kinds file sets another)",
     "达到单个数据流的解压上限(除非资源种类文件另行设定,为 512 MiB)"},
    {"the limit per file was reached (4 GiB unless the kinds file sets another)",
     "达到每个文件的解压总量上限(除非资源种类文件另行设定,为 4 GiB)"},
    {"archives nested deeper than four levels are not opened (the depth limit)",
     "嵌套超过四层的压缩包不再打开(深度上限)"},
    {"entries that overlap others or name no local header are left out",
     "与其他条目重叠或没有本地文件头的条目已略过"},
    {"the compression ratio passes the limit", "压缩比超出上限"},
    {"the entry is encrypted", "条目已加密"},
    {"the compression method is not supported", "不支持该压缩方法"},
    {"the program's digital signature no longer matched its bytes and was removed from",
     "程序的数字签名已与其内容不符,已从以下文件移除:"},
};

}  // namespace

Language localeLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::strncmp(value, "zh", 2) == 0 ? Language::Chinese : Language::English;
    }
    return Language::English;
}

const char* say(Language language, const char* english) {
    if (language == Language::English) return english;
    for (const Phrase& p : kPhrases)
        if (std::string_view(p.english) == english) return p.chinese;
    return english;
}

std::string reasonText(Language language, const FileError& error) {
    const Text text = describeError(error, language);
    // English words are ASCII, with any path kept as its bytes are on disk.
    return language == Language::English ? text : gbkToUtf8(text);
}

}  // namespace kerbilo::cli
