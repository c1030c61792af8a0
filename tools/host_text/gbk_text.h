// Hosts receive the engine's log texts as GBK bytes; this shows them as UTF-8.
#pragma once

#include <string>
#include <string_view>

// GBK (code page 936) bytes as UTF-8; bytes that do not convert become '?'.
std::string GbkToUtf8(std::string_view gbk);
