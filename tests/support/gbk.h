// Log texts are GBK bytes; tests write the expected texts in UTF-8 and compare
// through iconv, so each escape in the sources is checked against its meaning.
#pragma once

#include <string>

namespace testing_support {
// Converts UTF-8 text to GBK (code page 936) bytes. Fails the test on error.
std::string Gbk(const std::string& utf8);
// Converts GBK bytes to UTF-8.
std::string Utf8(const std::string& gbk);
}  // namespace testing_support
