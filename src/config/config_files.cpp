#include "config/config_files.h"

#include "config/texts.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "runtime/ini.h"

#include <algorithm>
#include <limits>

namespace kerbilo {
namespace {

constexpr std::string_view kKindsSection = "config";
constexpr std::string_view kSettingsSection = "Config";

}  // namespace

const Text& kindFieldKeySuffix(KindField field) {
    static const Text head = "_head";
    static const Text tail = "_tail";
    switch (field) {
        case KindField::Head:
            return head;
        case KindField::Tail:
            return tail;
        case KindField::Suffix:
            return config_text::suffixField();
        case KindField::HeadFill:
            return config_text::headFillField();
        case KindField::TailFill:
            return config_text::tailFillField();
        case KindField::Ending:
            break;
    }
    return config_text::endingField();
}

Text kindsFilePath(const FileServices& files) {
    return files.programDirectory() + "/resource.config";
}

Text settingsFilePath(const FileServices& files) {
    return files.programDirectory() + "/Resource.ini";
}

const ByteBuffer& defaultKindsFileContent() {
    static const ByteBuffer content =
        ByteBuffer::fromText(utf8ToGbk("[Config]\r\n"
                                       "资源种类数=3\r\n"
                                       "1=PNG\r\n"
                                       "PNG_head=89504E470D0A1A0A0000000D\r\n"
                                       "PNG_tail=0000000049454E44AE426082\r\n"
                                       "PNG文件后缀=png\r\n"
                                       "PNG头补齐=89\r\n"
                                       "PNG尾补齐=\r\n"
                                       "\r\n"
                                       "2=JPG\r\n"
                                       "JPG_head=FFD8FFE\r\n"
                                       "JPG_tail=FFD9\r\n"
                                       "JPG文件后缀=JPG\r\n"
                                       "JPG头补齐=FF\r\n"
                                       "JPG尾补齐=\r\n"
                                       "\r\n"
                                       "3=GIF\r\n"
                                       "GIF_head=47494638\r\n"
                                       "GIF_tail=003B\r\n"
                                       "GIF文件后缀=png\r\n"
                                       "GIF头补齐=47\r\n"
                                       "GIF尾补齐="));
    return content;
}

void ensureKindsFile(FileServices& files) {
    const Text path = kindsFilePath(files);
    if (files.pathExists(path)) return;
    files.writeWholeFile(path, defaultKindsFileContent());  // a failure is not reported
}

namespace {

// Valid UTF-8 holding at least one character past ASCII: GBK text almost never is (its
// lead bytes are followed by bytes that no UTF-8 sequence continues with).
bool looksLikeUtf8(std::string_view t) {
    bool wide = false;
    for (std::size_t i = 0; i < t.size();) {
        const auto c = static_cast<unsigned char>(t[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int more = c >= 0xF0 && c <= 0xF4   ? 3
                         : c >= 0xE0 && c <= 0xEF ? 2
                         : c >= 0xC2 && c <= 0xDF ? 1
                                                  : -1;
        if (more < 0 || i + static_cast<std::size_t>(more) >= t.size()) return false;
        for (int k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(t[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80)
                return false;
        wide = true;
        i += static_cast<std::size_t>(more) + 1;
    }
    return wide;
}

}  // namespace

bool safeSuffix(std::string_view suffix) {
    return suffix.find('/') == std::string_view::npos &&
           suffix.find('\0') == std::string_view::npos && suffix != "..";
}

KindsFile::KindsFile(std::optional<ByteBuffer> content) : content_(std::move(content)) {
    if (!content_) return;
    std::string_view text = content_->view();
    const bool mark = text.starts_with("\xEF\xBB\xBF");
    if (mark) text.remove_prefix(3);
    if (mark || looksLikeUtf8(text)) {
        encoding_ = KindsEncoding::Utf8;
        content_ = ByteBuffer::fromText(utf8ToGbk(text));
    }
    section_ = std::make_shared<const IniSection>(content_->view(), kKindsSection);
}

KindsFile KindsFile::read(FileServices& files) {
    return KindsFile(files.tryReadWholeFile(kindsFilePath(files)));
}

Text KindsFile::lookup(std::string_view key, std::string_view defaultValue) const {
    // The reading rules of FileServices::readIniValue, on the bytes read once.
    key = skipLeadingBlanks(key);
    if (key.empty()) return {};
    if (!section_) return Text(defaultValue);
    return section_->lookup(key).value_or(Text(defaultValue));
}

int KindsFile::count() const {
    return textToInt(lookup(config_text::kindCountKey(), ""));
}

int KindsFile::highestNamed() const {
    if (!section_) return 0;
    int highest = 0;
    for (std::string_view key : section_->keys()) {
        // Only the plain decimal form names a kind: "1", never "01" or "+1".
        if (key.empty() || key.size() > 10 || key.front() == '0' ||
            !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::int64_t k = 0;
        for (const char c : key) k = k * 10 + (c - '0');
        if (k > highest && k <= std::numeric_limits<std::int32_t>::max())
            highest = static_cast<int>(k);
    }
    return highest;
}

Text KindsFile::name(int kindNumber) const {
    return lookup(intToText(kindNumber), "");
}

Text KindsFile::field(std::string_view kindName, KindField f, std::string_view defaultValue) const {
    return lookup(concatText({kindName, kindFieldKeySuffix(f)}), defaultValue);
}

Text KindsFile::suffix(std::string_view kindName) const {
    return field(kindName, KindField::Suffix, kindName);
}

bool KindsFile::endsByFormat(std::string_view kindName) const {
    return field(kindName, KindField::Ending) == config_text::endingByFormat();
}

bool KindsFile::structureScan() const {
    return lookup(config_text::structureScanKey(), "") == config_text::yes();
}

bool writeStructureScan(FileServices& files, bool on) {
    return files.writeIniValue(kindsFilePath(files), kSettingsSection,
                               config_text::structureScanKey(),
                               on ? config_text::yes() : config_text::no());
}

Text readOutputFolder(FileServices& files) {
    return files.readIniValue(settingsFilePath(files), kSettingsSection,
                              config_text::outputFolderKey(), files.programDirectory());
}

Text readStoredOutputFolder(FileServices& files) {
    return files.readIniValue(settingsFilePath(files), kSettingsSection,
                              config_text::outputFolderKey(), "");
}

bool writeOutputFolder(FileServices& files, std::string_view folder) {
    return files.writeIniValue(settingsFilePath(files), kSettingsSection,
                               config_text::outputFolderKey(), folder);
}

namespace {

// A size field: a whole number in a range a screen can show, else nothing.
std::optional<int> sizeField(FileServices& files, const Text& key, int lowest, int highest) {
    const Text value = files.readIniValue(settingsFilePath(files), kSettingsSection, key, "");
    if (value.empty() ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::int32_t n = textToInt(value);
    if (n < lowest || n > highest) return std::nullopt;
    return n;
}

constexpr int kLargestWindow = 32767;  // what window systems accept as a size

}  // namespace

std::optional<WindowLayout> readWindowLayout(FileServices& files) {
    const auto width = sizeField(files, config_text::windowWidthKey(), 100, kLargestWindow);
    const auto height = sizeField(files, config_text::windowHeightKey(), 100, kLargestWindow);
    const auto tree = sizeField(files, config_text::treeWidthKey(), 0, kLargestWindow);
    if (!width || !height || !tree) return std::nullopt;
    WindowLayout layout{*width, *height, *tree, false};
    layout.maximized =
        files.readIniValue(settingsFilePath(files), kSettingsSection,
                           config_text::windowMaximizedKey(), "") == config_text::yes();
    return layout;
}

bool writeWindowLayout(FileServices& files, const WindowLayout& layout) {
    const Text path = settingsFilePath(files);
    bool ok = true;
    for (const auto& [key, value] :
         {std::pair{config_text::windowWidthKey(), intToText(layout.width)},
          std::pair{config_text::windowHeightKey(), intToText(layout.height)},
          std::pair{config_text::treeWidthKey(), intToText(layout.treeWidth)},
          std::pair{config_text::windowMaximizedKey(),
                    layout.maximized ? config_text::yes() : config_text::no()}})
        ok = files.writeIniValue(path, kSettingsSection, key, value) && ok;
    return ok;
}

std::vector<Text> readRecentFiles(FileServices& files) {
    std::vector<Text> paths;
    for (int i = 1; i <= kRecentFileCount; ++i) {
        Text path =
            files.readIniValue(settingsFilePath(files), kSettingsSection,
                               concatText({config_text::recentFileKey(), intToText(i)}), "");
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

bool writeRecentFiles(FileServices& files, const std::vector<Text>& paths) {
    const Text path = settingsFilePath(files);
    bool ok = true;
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const auto at = static_cast<std::size_t>(i - 1);
        // A name holding a line break cannot be a line of the file: it is left out.
        const Text value =
            at < paths.size() && paths[at].find_first_of("\r\n") == Text::npos ? paths[at] : Text();
        ok = files.writeIniValue(path, kSettingsSection,
                                 concatText({config_text::recentFileKey(), intToText(i)}), value) &&
             ok;
    }
    return ok;
}

std::vector<Text> withRecentFile(std::vector<Text> paths, const Text& opened) {
    paths.erase(std::remove(paths.begin(), paths.end(), opened), paths.end());
    paths.insert(paths.begin(), opened);
    if (paths.size() > static_cast<std::size_t>(kRecentFileCount))
        paths.resize(static_cast<std::size_t>(kRecentFileCount));
    return paths;
}

}  // namespace kerbilo
