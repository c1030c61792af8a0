// The two media the transmission carries, each on an RTP session of its own.
#pragma once

enum class Medium { kVoice, kVideo };

inline constexpr Medium kBothMedia[] = {Medium::kVoice, Medium::kVideo};

// One of a thing for each medium.
template <typename T>
struct PerMedium {
    T voice;
    T video;
    T& operator[](Medium medium) { return medium == Medium::kVideo ? video : voice; }
    const T& operator[](Medium medium) const { return medium == Medium::kVideo ? video : voice; }
};

// The operations' `video` flag.
constexpr Medium MediumOf(bool video) { return video ? Medium::kVideo : Medium::kVoice; }
