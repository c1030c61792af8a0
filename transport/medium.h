// The two media the transmission carries, each on an RTP session of its own.
#pragma once

enum class Medium { kVoice, kVideo };

inline constexpr Medium kBothMedia[] = {Medium::kVoice, Medium::kVideo};

// The operations' `video` flag.
constexpr Medium MediumOf(bool video) { return video ? Medium::kVideo : Medium::kVoice; }
