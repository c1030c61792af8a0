#include "codec/codec_library.h"
#include "codec/video_enc.h"

#include <xvid.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

unsigned codec::LibraryCpuFlags() {
    const char* simd = std::getenv("TAVOLIN_CODEC_SIMD");
    return simd && std::strcmp(simd, "1") == 0 ? kDetectedCpuFlags : kLibraryCpuFlags;
}

double codec::ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The library's initialisation rewrites global tables that every encoder and
// decoder of the process reads while it codes, on any thread: it runs once.
void InitCodecLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xvid_gbl_init_t init{};
        init.version = codec::kLibraryVersion;
        init.cpu_flags = codec::LibraryCpuFlags();
        init.debug = 0;
        xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    });
}
