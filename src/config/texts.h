#pragma once
// Every GBK text of the configuration files, written once, readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::config_text {

KERBILO_GBK_TEXT(kindCountKey, "资源种类数")
KERBILO_GBK_TEXT(suffixField, "文件后缀")
KERBILO_GBK_TEXT(headFillField, "头补齐")
KERBILO_GBK_TEXT(tailFillField, "尾补齐")
KERBILO_GBK_TEXT(outputFolderKey, "输出文件夹")
KERBILO_GBK_TEXT(endingField, "结束方式")
KERBILO_GBK_TEXT(endingByFormat, "格式")
KERBILO_GBK_TEXT(structureScanKey, "结构扫描")
KERBILO_GBK_TEXT(yes, "是")
KERBILO_GBK_TEXT(no, "否")
KERBILO_GBK_TEXT(windowWidthKey, "窗口宽度")
KERBILO_GBK_TEXT(windowHeightKey, "窗口高度")
KERBILO_GBK_TEXT(windowMaximizedKey, "窗口最大化")
KERBILO_GBK_TEXT(treeWidthKey, "树宽度")
KERBILO_GBK_TEXT(recentFileKey, "最近打开")

}  // namespace kerbilo::config_text
