// Identifiers are compared as 16 raw bytes.
#pragma once

#include <tavolin/tavolin.h>

#include <cstring>

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
