#pragma once
// Every GBK text the menu commands show, readable as Chinese. The window's shell shows some
// of them too (the dialogs' first filter), so they are written once, here.
#include "runtime/byte_buffer.h"
#include "runtime/gbk.h"

namespace kerbilo::app_text {

KERBILO_GBK_TEXT(openFilter, "可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*")
KERBILO_GBK_TEXT(filterKindMiddle, "文件|*.")
KERBILO_GBK_TEXT(filterAllFiles, "所有类型文件|*.*")
KERBILO_GBK_TEXT(noticeTitle, "提示")
KERBILO_GBK_TEXT(reasonPrefix, "原因:")
KERBILO_GBK_TEXT(cannotOpenPrefix, "无法打开文件:")
KERBILO_GBK_TEXT(cannotReadPrefix, "无法读取文件:")
KERBILO_GBK_TEXT(cannotWritePrefix, "无法写出文件:")
KERBILO_GBK_TEXT(cannotSavePrefix, "无法保存文件:")
KERBILO_GBK_TEXT(cannotReplacePrefix, "无法替换资源:")
KERBILO_GBK_TEXT(outOfMemory, "内存不足")
KERBILO_GBK_TEXT(resourceOverwritten, "另一个资源的替换改写了它所在的字节,它已不在文件中")
KERBILO_GBK_TEXT(exportAllQuestion, "是否确认导出该文件所有解析出来的资源文件?")
KERBILO_GBK_TEXT(failedCountStart, "共")
KERBILO_GBK_TEXT(failedCountMiddle, "个文件中有")
KERBILO_GBK_TEXT(failedCountEnd, "个没有写出。")
KERBILO_GBK_TEXT(firstFailedPrefix, "第一个没有写出的文件:")
KERBILO_GBK_TEXT(cannotCreateFolderPrefix, "无法创建文件夹:")
KERBILO_GBK_TEXT(takenFolderStart, "输出文件夹中已有与打开的文件同名的文件,资源已导出到:")
KERBILO_GBK_TEXT(folderPrompt, "请选择一个文件夹输出资源")
KERBILO_GBK_TEXT(cannotStoreFolderPrefix, "无法保存输出文件夹:")
KERBILO_GBK_TEXT(folderUsedThisRun, "本次运行仍使用该文件夹导出资源。")
KERBILO_GBK_TEXT(unsavedQuestion, "文件修改还没有保存,是否保存修改?")
KERBILO_GBK_TEXT(unsavedTitle, "程序未保存")
KERBILO_GBK_TEXT(treeRoot, "文件资源列表")
KERBILO_GBK_TEXT(groupSuffix, "格式资源")
KERBILO_GBK_TEXT(parsingKindPrefix, "正在解析程序内:")
KERBILO_GBK_TEXT(parsingKindSuffix, "格式文件")
KERBILO_GBK_TEXT(parsingPrefix, "正在解析:")
KERBILO_GBK_TEXT(parsingDone, "文件解析已经完成")
KERBILO_GBK_TEXT(writingPrefix, "正在写出:")
KERBILO_GBK_TEXT(openCancelled, "已取消打开文件")

// What a resource is, for the tree's tooltips.
KERBILO_GBK_TEXT(pictureWord, " 图片 ")
KERBILO_GBK_TEXT(animationWord, " 动画 ")
KERBILO_GBK_TEXT(times, "×")
KERBILO_GBK_TEXT(comma, "，")
KERBILO_GBK_TEXT(framesWord, " 帧")
KERBILO_GBK_TEXT(bytesWord, " 字节")
KERBILO_GBK_TEXT(notAPicture, "不是图片")
KERBILO_GBK_TEXT(complete, "完整")
KERBILO_GBK_TEXT(cutShortBy, "不完整：按格式应为 ")
KERBILO_GBK_TEXT(cutShortOpen, "不完整：格式在资源之后还没有结束")
KERBILO_GBK_TEXT(trailingStart, "末尾多出 ")
KERBILO_GBK_TEXT(trailingBy, " 字节：按格式应为 ")
KERBILO_GBK_TEXT(damaged, "已损坏")
KERBILO_GBK_TEXT(colon, "：")
KERBILO_GBK_TEXT(openParen, "（")
KERBILO_GBK_TEXT(closeParen, "）")
KERBILO_GBK_TEXT(unchecked, "格式本身没有结束标记")
KERBILO_GBK_TEXT(cannotShow, "无法显示")
KERBILO_GBK_TEXT(sourcePrefix, "来源:")

// Why a Windows program's picture could not take the chosen file.
KERBILO_GBK_TEXT(wrongForm, "图标需要 .ico 或 .png 文件,光标需要 .cur 文件,位图需要 .bmp 文件")
KERBILO_GBK_TEXT(newFileDamaged, "新文件的结构已损坏")
KERBILO_GBK_TEXT(programGone, "它所在的程序已无法读取")
KERBILO_GBK_TEXT(directoryDamaged, "程序的资源目录已损坏,重写会丢失资源")
KERBILO_GBK_TEXT(noRoomForSection, "程序的文件头没有空间再加一个节")
KERBILO_GBK_TEXT(resourcesTooLarge, "程序的资源将超出格式的限制")
KERBILO_GBK_TEXT(notReadBack, "写出的程序无法按原样读回,没有做任何修改")
KERBILO_GBK_TEXT(insideCompressed, "压缩数据中的程序里的图片不能替换")
KERBILO_GBK_TEXT(containerDamaged, "它所在的压缩数据已无法完整读取、已加密或压缩方法不能写出")
KERBILO_GBK_TEXT(noRoomInStream, "重新压缩后的数据流比原来的长,而数据流之后的内容不知属于什么")
KERBILO_GBK_TEXT(insideCompressedGroup, "(压缩数据中)")
KERBILO_GBK_TEXT(containerStopsStart, "压缩数据中有些部分没有解压或没有打开:")
KERBILO_GBK_TEXT(stopDamaged, "数据已损坏")
KERBILO_GBK_TEXT(stopTruncated, "数据提前结束,已读出能读的部分")
KERBILO_GBK_TEXT(stopStreamLimit, "达到单个数据流的解压上限")
KERBILO_GBK_TEXT(stopTotalLimit, "达到每个文件的解压总量上限")
KERBILO_GBK_TEXT(stopRatio, "压缩比超出上限,可能是压缩炸弹")
KERBILO_GBK_TEXT(stopEncrypted, "条目已加密")
KERBILO_GBK_TEXT(stopMethod, "不支持该压缩方法")
KERBILO_GBK_TEXT(stopDepth, "嵌套超过四层的压缩包不再打开")
KERBILO_GBK_TEXT(stopOverlap, "与其他条目重叠的条目已略过")
KERBILO_GBK_TEXT(stopsMorePrefix, "……另有 ")
KERBILO_GBK_TEXT(stopsMoreSuffix, " 处")
KERBILO_GBK_TEXT(signatureRemoved,
                 "程序的数字签名已与其内容不符,已被移除。保存后的文件不再带有数字签名。")
KERBILO_GBK_TEXT(structureScanOn, "结构扫描已打开,下次打开文件时生效")
KERBILO_GBK_TEXT(structureScanOff, "结构扫描已关闭,下次打开文件时生效")
KERBILO_GBK_TEXT(cannotWriteKindsPrefix, "无法写出资源种类文件:")

// The hex view's heading over the offsets of its rows.
KERBILO_GBK_TEXT(offsetHeading, "偏移")
KERBILO_GBK_TEXT(refusedKindsStart, "以下资源种类没有搜索:")
KERBILO_GBK_TEXT(refusedKindsEnd,
                 "。它们的文件后缀含有\"/\"、\"..\"或空字符,导出时会写到输出文件夹之外。")

// The details view's columns, and its short verdicts.
KERBILO_GBK_TEXT(columnNumber, "编号")
KERBILO_GBK_TEXT(columnKind, "种类")
KERBILO_GBK_TEXT(columnOffset, "偏移")
KERBILO_GBK_TEXT(columnSize, "大小")
KERBILO_GBK_TEXT(columnFormat, "格式")
KERBILO_GBK_TEXT(columnDimensions, "尺寸")
KERBILO_GBK_TEXT(columnFrames, "帧数")
KERBILO_GBK_TEXT(columnVerdict, "完整性")
KERBILO_GBK_TEXT(columnSource, "来源")
KERBILO_GBK_TEXT(verdictCutShort, "不完整")
KERBILO_GBK_TEXT(verdictTrailing, "末尾多余")
KERBILO_GBK_TEXT(verdictUnchecked, "未检查")

// "无法…:" + subject, then on a new line "原因:" + reason: every failure message says what
// could not be done to what, and why.
Text cannotMessage(const Text& prefix, const Text& subject, const Text& reason);

}  // namespace kerbilo::app_text
