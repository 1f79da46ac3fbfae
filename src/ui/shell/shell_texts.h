#pragma once
// Every user-visible text of the windows, GBK, written once and readable as Chinese.
#include "runtime/gbk.h"

namespace kerbilo::shell_text {

KERBILO_GBK_TEXT(title, "Kerbilo")
KERBILO_GBK_TEXT(browseGroup, "资源浏览")
// The version comes from the project, major.minor, as the status bar has always shown it.
KERBILO_GBK_TEXT(welcome, "欢迎使用Kerbilo " KERBILO_DISPLAY_VERSION "版")

KERBILO_GBK_TEXT(fileMenu, "文件")
KERBILO_GBK_TEXT(openItem, "打开")
KERBILO_GBK_TEXT(recentMenu, "最近打开的文件")
KERBILO_GBK_TEXT(outputFolderItem, "设置输出文件夹")
KERBILO_GBK_TEXT(structureScanItem, "结构扫描(程序中的图标、光标和位图)")
KERBILO_GBK_TEXT(saveItem, "保存文件")
KERBILO_GBK_TEXT(exitItem, "退出")
KERBILO_GBK_TEXT(editMenu, "编辑")
KERBILO_GBK_TEXT(replaceItem, "替换资源")
KERBILO_GBK_TEXT(exportItem, "导出资源")
KERBILO_GBK_TEXT(exportAllItem, "导出全部资源")
KERBILO_GBK_TEXT(viewMenu, "查看")
KERBILO_GBK_TEXT(treeViewItem, "资源树")
KERBILO_GBK_TEXT(detailsViewItem, "详细列表")
KERBILO_GBK_TEXT(thumbnailsViewItem, "缩略图")
KERBILO_GBK_TEXT(thumbnailSizeMenu, "缩略图大小")
KERBILO_GBK_TEXT(pixelsSuffix, " 像素")
KERBILO_GBK_TEXT(bytesItem, "显示字节")
KERBILO_GBK_TEXT(filterItem, "筛选")
KERBILO_GBK_TEXT(onlyCompleteItem, "只显示完整的图片")
KERBILO_GBK_TEXT(defaultViewItem, "原样显示")
KERBILO_GBK_TEXT(fitViewItem, "适合窗格")
KERBILO_GBK_TEXT(actualViewItem, "实际大小")
KERBILO_GBK_TEXT(zoomViewItem, "缩放")
KERBILO_GBK_TEXT(zoomInItem, "放大")
KERBILO_GBK_TEXT(zoomOutItem, "缩小")
KERBILO_GBK_TEXT(checkerboardItem, "透明处显示棋盘格")
KERBILO_GBK_TEXT(zoomPrefix, "缩放 ")
KERBILO_GBK_TEXT(
    filterHint,
    "筛选:种类、格式、完整性(如 verdict:complete)、大小(如 >10k、1k-2m)或偏移(如 0x1F3A0)")
KERBILO_GBK_TEXT(helpMenu, "帮助")
KERBILO_GBK_TEXT(aboutItem, "关于")
KERBILO_GBK_TEXT(updateItem, "更新支持库")
KERBILO_GBK_TEXT(cancelButton, "取消")

KERBILO_GBK_TEXT(aboutTitle, "关于Kerbilo")
KERBILO_GBK_TEXT(aboutNotice,
                 "本程序可用于修改文件内资源文件\r\n但不建议修改第三方文件版权信息\r\n"
                 "使用本软件的一切修改行为都属个人行为\r\n作者不承担任何法律责任\r\n\r\n"
                 "请勿用本软件于非法用途")
KERBILO_GBK_TEXT(blogLink, "作者博客")
KERBILO_GBK_TEXT(microBlogLink, "作者微博")

}  // namespace kerbilo::shell_text
