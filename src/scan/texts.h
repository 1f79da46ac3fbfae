#pragma once
// Every GBK text the scanning and opening operations show, readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::scan_text {

KERBILO_GBK_TEXT(groupSuffix, "格式资源")
KERBILO_GBK_TEXT(parsingKindPrefix, "正在解析程序内:")
KERBILO_GBK_TEXT(parsingKindSuffix, "格式文件")
KERBILO_GBK_TEXT(parsingPrefix, "正在解析:")
KERBILO_GBK_TEXT(parsingDone, "文件解析已经完成")
KERBILO_GBK_TEXT(openFilter, "可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*")
KERBILO_GBK_TEXT(noticeTitle, "提示")
KERBILO_GBK_TEXT(cannotOpenPrefix, "无法打开文件:")
KERBILO_GBK_TEXT(reasonPrefix, "原因:")

}  // namespace kerbilo::scan_text
