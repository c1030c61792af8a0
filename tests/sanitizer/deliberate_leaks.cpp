// Makes GLib leak the block its constructor allocated (as GStreamer does
// with many plugins installed), then leaks two blocks of its own: one from
// new and one through GLib. LeakSanitizer must report exactly these two.
#include <glib.h>

#include <string>

namespace {
// GLib's constructor allocates a table for this many names and lets it go
// when the process registers more.
constexpr int kMoreNamesThanGlibsFirstTable = 4000;

// Each block is stored through a volatile pointer, so the compiler keeps the
// allocation, then the pointer is overwritten: nothing refers to it any more.
void* volatile g_block = nullptr;

[[gnu::noinline]] void LeakWithNew() {
    g_block = new char[1000];
    g_block = nullptr;
}

[[gnu::noinline]] void LeakThroughGlib() {
    g_block = g_strdup_printf("%d", 4242);
    g_block = nullptr;
}
}  // namespace

int main() {
    for (int i = 0; i < kMoreNamesThanGlibsFirstTable; ++i)
        g_quark_from_string(("deliberate-leaks-" + std::to_string(i)).c_str());
    LeakWithNew();
    LeakThroughGlib();
    return 0;
}
