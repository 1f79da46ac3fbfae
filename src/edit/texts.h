#pragma once
// Every GBK text the editing operations show, readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::edit_text {

KERBILO_GBK_TEXT(sizeWarningNew, "您欲替换的资源的大小:")
KERBILO_GBK_TEXT(sizeWarningOld, "超过原资源的大小:")
KERBILO_GBK_TEXT(sizeWarningQuestion,
                 "\r\n如果要替换该资源有可能导致原文件不能正确的运行,您是否要执行替换")
KERBILO_GBK_TEXT(takenFolderSuffix, "_资源")

}  // namespace kerbilo::edit_text
