#pragma once
// Every GBK text the editing and output operations show, readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::edit_text {

KERBILO_GBK_TEXT(filterKindMiddle, "文件|*.")
KERBILO_GBK_TEXT(filterAllFiles, "所有类型文件|*.*")
KERBILO_GBK_TEXT(sizeWarningNew, "您欲替换的资源的大小:")
KERBILO_GBK_TEXT(sizeWarningOld, "超过原资源的大小:")
KERBILO_GBK_TEXT(sizeWarningQuestion,
                 "\r\n如果要替换该资源有可能导致原文件不能正确的运行,您是否要执行替换")
KERBILO_GBK_TEXT(noticeTitle, "提示")
KERBILO_GBK_TEXT(reasonPrefix, "原因:")
KERBILO_GBK_TEXT(cannotReadPrefix, "无法读取文件:")
KERBILO_GBK_TEXT(cannotWritePrefix, "无法写出文件:")
KERBILO_GBK_TEXT(cannotSavePrefix, "无法保存文件:")
KERBILO_GBK_TEXT(exportAllQuestion, "是否确认导出该文件所有解析出来的资源文件?")
KERBILO_GBK_TEXT(writingPrefix, "正在写出:")
KERBILO_GBK_TEXT(failedCountStart, "共")
KERBILO_GBK_TEXT(failedCountMiddle, "个文件中有")
KERBILO_GBK_TEXT(failedCountEnd, "个没有写出。")
KERBILO_GBK_TEXT(firstFailedPrefix, "第一个没有写出的文件:")
KERBILO_GBK_TEXT(folderPrompt, "请选择一个文件夹输出资源")
KERBILO_GBK_TEXT(unsavedQuestion, "文件修改还没有保存,是否保存修改?")
KERBILO_GBK_TEXT(unsavedTitle, "程序未保存")

}  // namespace kerbilo::edit_text
