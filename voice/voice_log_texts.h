// What the voice component logs. Texts are plain ASCII, which GBK reads as is.
#pragma once

#include <string>

namespace voice::log_text {

inline constexpr char kMicrophone[] = "microphone";
inline constexpr char kSpeaker[] = "speaker";
inline constexpr char kProcessingOn[] = "Voice: echo cancellation and noise suppression on";

inline std::string DeviceName(const std::string& name) { return name.empty() ? "(default)" : "\"" + name + "\""; }

// A device that did not start or stopped working; nothing is sent or played
// through it until it works again.
inline std::string DeviceFailed(const char* what, const std::string& name, const std::string& why) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " failed: " + why;
}

inline std::string DeviceWorks(const char* what, const std::string& name) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " works again";
}

// The chosen device went away; the system default serves until it is back.
inline std::string DeviceGone(const char* what, const std::string& name) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " is gone, the system default serves";
}

inline std::string DeviceBack(const char* what, const std::string& name) {
    return std::string("Voice: ") + what + " " + DeviceName(name) + " is back and in use";
}

// The host chose the system default, and the system's default changed.
inline std::string DefaultChanged(const char* what, const std::string& name) {
    return std::string("Voice: the system default ") + what + " is now " + DeviceName(name);
}

}  // namespace voice::log_text
