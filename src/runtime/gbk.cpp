#include "runtime/gbk.h"

#include <iconv.h>
#include <cerrno>

namespace kerbilo {
namespace {

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    std::string run(std::string_view in) {
        std::string out;
        if (in.empty()) return out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t used = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
            } else {
                // EILSEQ / EINVAL: keep the offending byte as it is and go on.
                if (out.size() - used < 1) out.resize(out.size() * 2);
                out[used++] = *src++;
                --srcLeft;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        out.resize(used);
        return out;
    }

  private:
    iconv_t cd_;
};

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
    thread_local Converter c("UTF-8", "GB18030");
    return c.run(gbk);
}

std::string utf8ToGbk(std::string_view utf8) {
    thread_local Converter c("GB18030", "UTF-8");
    return c.run(utf8);
}

}  // namespace kerbilo
