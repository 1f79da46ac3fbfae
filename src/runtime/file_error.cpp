#include <cerrno>
#include <string>

#include "runtime/file_error.h"
#include "runtime/gbk.h"

namespace kerbilo {

namespace {

struct Words {
    const char* chinese;
    const char* english;
};

Words wordsFor(int code) {
    switch (code) {
        case kNotAFile:
            return {"不是普通文件(管道、套接字或字符设备)",
                    "not a regular file (a pipe, a socket or a character device)"};
        case kSocket:
            return {"这是套接字,不能当作文件写入",
                    "this is a socket, which cannot be written as a file"};
        case kLargerThanMemory:
            return {"文件大于可用的内存", "the file is larger than the memory available"};
        case kNoReader:
            return {"管道另一端没有程序在读取", "nobody reads at the other end of the pipe"};
        case kNoCopy:
            return {"无法先保留原内容的副本", "the old content could not be kept aside first"};
        case EPIPE:
            return {"管道另一端的程序已停止读取",
                    "the program at the other end of the pipe stopped reading"};
        case ECANCELED:
            return {"已取消", "cancelled"};
        case ENXIO:
            return {"设备不存在或未就绪", "no such device, or it is not ready"};
        case ELOOP:
            return {"符号链接层数过多", "too many levels of symbolic links"};
        case ENOENT:
            return {"文件或文件夹不存在", "no such file or folder"};
        case EACCES:
        case EPERM:
            return {"没有访问权限", "permission denied"};
        case EISDIR:
            return {"这是一个文件夹,不是文件", "this is a folder, not a file"};
        case ENOTDIR:
            return {"路径中有一部分不是文件夹", "a part of the path is not a folder"};
        case ENOSPC:
            return {"磁盘空间不足", "no space left on the disk"};
        case EDQUOT:
            return {"超出磁盘配额", "disk quota exceeded"};
        case EFBIG:
            return {"文件过大", "the file is too large"};
        case EROFS:
            return {"文件系统是只读的", "the file system is read-only"};
        case EEXIST:
            return {"已经存在", "it exists already"};
        case ENAMETOOLONG:
            return {"文件名过长", "the file name is too long"};
        case ENOMEM:
            return {"内存不足", "not enough memory"};
        case EIO:
            return {"输入输出错误", "input/output error"};
        case EINVAL:
            return {"无效的路径", "invalid path"};
        case EBUSY:
        case ETXTBSY:
        case EAGAIN:
            return {"文件正被占用", "the file is in use"};
        case kUnsafeSuffix:
            return {
                "资源种类的文件后缀含有\"/\"、\"..\"或空字符,会写到输出文件夹之外",
                "the kind's suffix holds \"/\", \"..\" or NUL and would leave the output folder"};
        case kLineBreakInName:
            return {"名称中含有回车或换行符,设置文件无法保存它",
                    "the name holds a line break, which no settings line can hold"};
        default:
            return {nullptr, nullptr};
    }
}

}  // namespace

Text describeErrno(int code, Language language) {
    const Words words = wordsFor(code);
    if (language == Language::English)
        return words.english ? Text(words.english) : "system error " + std::to_string(code);
    return words.chinese ? utf8ToGbk(words.chinese) : utf8ToGbk("系统错误 ") + std::to_string(code);
}

Text describeError(const FileError& error, Language language) {
    Text text = describeErrno(error.code, language);
    if (error.cause != 0) text += ": " + describeErrno(error.cause, language);
    if (!error.keptAt.empty())
        text += language == Language::English
                    ? ", the old content is kept in " + error.keptAt
                    : utf8ToGbk(",原内容保存在 ") + utf8ToGbk(error.keptAt);
    return text;
}

}  // namespace kerbilo
