#pragma once
// Every GBK text the scan shows, readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::scan_text {

KERBILO_GBK_TEXT(groupSuffix, "格式资源")
KERBILO_GBK_TEXT(parsingKindPrefix, "正在解析程序内:")
KERBILO_GBK_TEXT(parsingKindSuffix, "格式文件")
KERBILO_GBK_TEXT(parsingPrefix, "正在解析:")
KERBILO_GBK_TEXT(parsingDone, "文件解析已经完成")

}  // namespace kerbilo::scan_text
