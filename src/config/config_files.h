#pragma once
// resource.config (the resource kinds) and Resource.ini (the output folder). Nothing is
// cached: every value is read from its file when it is needed, so an edit made while the
// program runs counts at the next read.

#include <string_view>

#include "runtime/byte_buffer.h"
#include "runtime/file_services.h"

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

int readKindCount(FileServices& files);
// The highest kind number that has a name key ("1", "2", …) in resource.config; 0 when
// there is none. No kind above it can have a name, so scanning stops there.
int highestNamedKind(FileServices& files);
Text readKindName(FileServices& files, int kindNumber);
Text readKindField(FileServices& files, std::string_view kindName, KindField field,
                   std::string_view defaultValue = {});
// The export suffix: the kind's name when the key is absent, empty when present but empty.
Text readKindSuffix(FileServices& files, std::string_view kindName);
// A kind whose "结束方式" (ending) key says "格式" (format) ends each resource where the
// picture format's own structure ends, rather than at the first tail.
bool readKindEndsByFormat(FileServices& files, std::string_view kindName);

Text readOutputFolder(FileServices& files);
bool writeOutputFolder(FileServices& files, std::string_view folder);

}  // namespace kerbilo
