#pragma once
// GStreamer hands the objects our callbacks get between threads (the one
// that made them, its streaming threads, the one that frees them) through its
// own locks, futexes the thread sanitizer cannot see, so those touches would
// look raced. These two calls tell the sanitizer what those locks order; in
// other builds they are nothing.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace media {

// On the thread that is done with `object` for now: after making it, before
// GStreamer may call back with it; at the end of such a callback.
inline void HandOver([[maybe_unused]] void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(object);
#endif
}

// On the thread that takes it next: at the top of a callback, before freeing.
inline void TakeOver([[maybe_unused]] void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(object);
#endif
}

}  // namespace media
