// The synthetic microphone's marker, shared by the generator that makes it
// and the analysis that finds it in what a listener heard.
#pragma once

#include <cstdint>

namespace voice {

// How long the once-a-second marker lasts. Longer or smoother markers make
// the codec ring on a pure tone for longer (measured by coding each tone at
// many phases).
inline constexpr int64_t kMarkerMicros = 10000;

}  // namespace voice
