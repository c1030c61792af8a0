// What the voice component logs. Texts are plain ASCII, which GBK reads as is.
#pragma once

#include <string>

namespace voice::log_text {

inline constexpr char kMicrophone[] = "microphone";
inline constexpr char kSpeaker[] = "speaker";
inline constexpr char kProcessingOn[] = "Voice: echo cancellation, noise suppression and gain control on";
inline constexpr char kEchoCancellationOff[] =
    "Voice: noise suppression and gain control on, echo cancellation off (the speaker is not a sound device)";
inline constexpr char kProcessingUnavailable[] =
    "Voice: echo cancellation, noise suppression and gain control off (webrtcdsp not installed)";

inline std::string DeviceName(const std::string& name) { return name.empty() ? "(default)" : "\"" + name + "\""; }

// A device that did not start or stopped working; nothing is sent or played
// through it until it works again.
inline std::string DeviceFailed(const char* what, const std::string& name, const std::string& why) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " failed: " + why;
}

inline std::string DeviceWorks(const char* what, const std::string& name) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " works again";
}

}  // namespace voice::log_text
