#pragma once
// The GBK/UTF-16 crossing, in one place so no caller converts twice or forgets.
#include <QtCore/QString>

#include "runtime/byte_buffer.h"
#include "runtime/gbk.h"

namespace kerbilo {

inline QString toQt(const Text& gbk) {
    return QString::fromStdString(gbkToUtf8(gbk));
}
inline Text fromQt(const QString& s) {
    return utf8ToGbk(s.toStdString());
}

}  // namespace kerbilo
