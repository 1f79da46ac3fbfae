#include <cerrno>
#include <string>

#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "runtime/posix_detail.h"

namespace kerbilo {

using namespace posix_detail;

Text describeErrno(int err) {
    switch (err) {
        case kNotAFile:
            return utf8ToGbk("不是普通文件(管道、套接字或字符设备)");
        case kSocket:
            return utf8ToGbk("这是套接字,不能当作文件写入");
        case kLargerThanMemory:
            return utf8ToGbk("文件大于可用的内存");
        case kNoReader:
            return utf8ToGbk("管道另一端没有程序在读取");
        case kNoCopy:
            return utf8ToGbk("无法先保留原内容的副本");
        case EPIPE:
            return utf8ToGbk("管道另一端的程序已停止读取");
        case ECANCELED:
            return utf8ToGbk("已取消");
        case ENXIO:
            return utf8ToGbk("设备不存在或未就绪");
        case ELOOP:
            return utf8ToGbk("符号链接层数过多");
        case ENOENT:
            return utf8ToGbk("文件或文件夹不存在");
        case EACCES:
        case EPERM:
            return utf8ToGbk("没有访问权限");
        case EISDIR:
            return utf8ToGbk("这是一个文件夹,不是文件");
        case ENOTDIR:
            return utf8ToGbk("路径中有一部分不是文件夹");
        case ENOSPC:
            return utf8ToGbk("磁盘空间不足");
        case EDQUOT:
            return utf8ToGbk("超出磁盘配额");
        case EFBIG:
            return utf8ToGbk("文件过大");
        case EROFS:
            return utf8ToGbk("文件系统是只读的");
        case EEXIST:
            return utf8ToGbk("已经存在");
        case ENAMETOOLONG:
            return utf8ToGbk("文件名过长");
        case ENOMEM:
            return utf8ToGbk("内存不足");
        case EIO:
            return utf8ToGbk("输入输出错误");
        case EINVAL:
            return utf8ToGbk("无效的路径");
        case EBUSY:
        case ETXTBSY:
        case EAGAIN:
            return utf8ToGbk("文件正被占用");
        default:
            return utf8ToGbk("系统错误 ") + std::to_string(err);
    }
}

}  // namespace kerbilo
