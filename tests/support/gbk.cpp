#include "tests/support/gbk.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <vector>

namespace testing_support {
namespace {
std::string Convert(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv_open " << from << " -> " << to;
        return {};
    }
    std::vector<char> out(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        ADD_FAILURE() << "iconv failed on: " << text;
    iconv_close(cd);
    return std::string(out.data(), out.size() - outLeft);
}
}  // namespace

std::string Gbk(const std::string& utf8) { return Convert(utf8, "GBK", "UTF-8"); }
std::string Utf8(const std::string& gbk) { return Convert(gbk, "UTF-8", "GBK"); }
}  // namespace testing_support
