#include "tools/host_text/gbk_text.h"

#include <iconv.h>

#include <cerrno>

std::string GbkToUtf8(std::string_view gbk) {
    iconv_t converter = iconv_open("UTF-8", "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
    // One GBK character of two bytes becomes at most three UTF-8 bytes.
    std::string utf8(gbk.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(gbk.data());
    size_t inLeft = gbk.size();
    char* out = utf8.data();
    size_t outLeft = utf8.size();
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG || outLeft == 0) break;
        // An invalid or cut-off sequence: show one byte as '?' and go on.
        *out++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    iconv_close(converter);
    utf8.resize(utf8.size() - outLeft);
    return utf8;
}
