// Settings shared by every use of the video codec library in this system.
#pragma once

#include <xvid.h>

namespace codec {

// The structure version every call announces (1.2.2 in the library's own
// encoding); later library releases still accept it.
constexpr int kLibraryVersion = 0x00010202;

// Forced CPU flags without any SIMD feature: the library runs its portable
// routines only, so every machine codes and decodes the same way.
constexpr unsigned kLibraryCpuFlags = XVID_CPU_FORCE | XVID_CPU_ASM;
// No flags: the library picks the fastest routines this CPU has.
constexpr unsigned kDetectedCpuFlags = 0;

// The flags the process initialises the library with: the portable routines,
// unless the host set TAVOLIN_CODEC_SIMD=1 in the environment.
unsigned LibraryCpuFlags();

// CPU seconds the calling thread has used: the library's calls are timed with
// it, so that what coding costs is known apart from what waits on the thread.
double ThreadCpuSeconds();

// Pictures cross the library as packed 24-bit blue-green-red rows.
constexpr int kPictureColourSpace = XVID_CSP_BGR;
constexpr int kBytesPerPixel = 3;

}  // namespace codec
