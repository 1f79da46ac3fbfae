#pragma once
// resource.config (the resource kinds) and Resource.ini (the output folder). Nothing is
// kept between operations: an open, an export or a replacement reads the kinds file once
// when it starts and answers every question from what it read, so an edit made while the
// program runs counts at the next operation.

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/file_services.h"
#include "runtime/ini.h"

namespace kerbilo {

enum class KindField { Head, Tail, Suffix, HeadFill, TailFill, Ending };

// The key suffix of a field: "_head", "_tail", "文件后缀", "头补齐", "尾补齐", "结束方式" (GBK).
const Text& kindFieldKeySuffix(KindField field);

Text kindsFilePath(const FileServices& files);     // program directory + "/resource.config"
Text settingsFilePath(const FileServices& files);  // program directory + "/Resource.ini"

// The 313 bytes written when no kinds file exists.
const ByteBuffer& defaultKindsFileContent();

// Writes the default kinds file when nothing at all exists at its path.
void ensureKindsFile(FileServices& files);

// How a kinds file was written: GBK, as the program writes it, or UTF-8, as a Linux editor
// saves it (with or without a byte-order mark). Either is read alike.
enum class KindsEncoding { Gbk, Utf8 };

// Whether a kind's suffix can name a file inside the output folder: a suffix holding "/",
// a NUL, or ".." as a whole would make a path that leaves it. Kinds files come from anywhere.
bool safeSuffix(std::string_view suffix);

// resource.config as one operation reads it: once. A file that cannot be read answers as
// an empty one does. A file saved as UTF-8 is read as its GBK equivalent.
class KindsFile {
  public:
    static KindsFile read(FileServices& files);
    explicit KindsFile(std::optional<ByteBuffer> content = std::nullopt);

    KindsEncoding encoding() const { return encoding_; }

    // "资源种类数" as written; 0 when absent or not a number.
    int count() const;
    // The highest kind number that has a name key ("1", "2", …); 0 when there is none. No
    // kind above it can have a name, so scanning stops there.
    int highestNamed() const;
    Text name(int kindNumber) const;
    Text field(std::string_view kindName, KindField field,
               std::string_view defaultValue = {}) const;
    // The export suffix: the kind's name when the key is absent, empty when present but
    // empty.
    Text suffix(std::string_view kindName) const;
    // A kind whose "结束方式" (ending) key says "格式" (format) ends each resource where the
    // picture format's own structure ends, rather than at the first tail.
    bool endsByFormat(std::string_view kindName) const;
    // "结构扫描=是" (structure scan): besides the kinds' signatures, the opened bytes are
    // searched for files whose own structures lead to pictures that carry no signature
    // (the icons, cursors and bitmaps of a Windows program).
    bool structureScan() const;
    // Any other key of the section, as written; empty when absent.
    Text setting(std::string_view key) const { return lookup(key, ""); }

  private:
    Text lookup(std::string_view key, std::string_view defaultValue) const;

    std::optional<ByteBuffer> content_;
    // The kinds section split into entries once: an open asks dozens of questions, and a
    // run over thousands of files asks them for every file. Views into content_'s bytes,
    // which copies of the file share.
    std::shared_ptr<const IniSection> section_;
    KindsEncoding encoding_ = KindsEncoding::Gbk;
};

// Sets "结构扫描" in the kinds file to "是" or "否", every other line kept as it is.
bool writeStructureScan(FileServices& files, bool on);

// The output folder: the one stored in Resource.ini, else the program directory.
Text readOutputFolder(FileServices& files);
// Only the one stored; empty when none is.
Text readStoredOutputFolder(FileServices& files);
bool writeOutputFolder(FileServices& files, std::string_view folder);

// The window's size (not maximised) and the width of its tree, as the user left them;
// Resource.ini keeps them beside the output folder. Nothing when none are stored or they
// are not numbers a window can take.
struct WindowLayout {
    int width = 0;
    int height = 0;
    int treeWidth = 0;
    bool maximized = false;
    bool operator==(const WindowLayout&) const = default;
};
std::optional<WindowLayout> readWindowLayout(FileServices& files);
bool writeWindowLayout(FileServices& files, const WindowLayout& layout);

// The files opened last, the latest first, at most kRecentFileCount; "最近打开1" … in
// Resource.ini.
constexpr int kRecentFileCount = 10;
std::vector<Text> readRecentFiles(FileServices& files);
bool writeRecentFiles(FileServices& files, const std::vector<Text>& paths);
// `paths` with `opened` first, once, and no more than kRecentFileCount.
std::vector<Text> withRecentFile(std::vector<Text> paths, const Text& opened);

}  // namespace kerbilo
