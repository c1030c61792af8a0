// The version a host can ask the loaded library for.
#include <tavolin/tavolin.h>

extern "C" __attribute__((visibility("default"))) const char* TavolinVersion(void) { return TAVOLIN_VERSION_TEXT; }
