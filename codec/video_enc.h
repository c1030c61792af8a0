// The system's one video encoder: 160 x 120 BGR pictures in, one MPEG-4
// Part 2 frame out per picture, handed synchronously to the sink.
#pragma once

#include "engine/internal_interfaces.h"

#include <cstdint>

// The codec library's global initialisation; run before creating the encoder
// and before every decoder.
void InitCodecLibrary();

class CVideoEnc {
public:
    static constexpr int kBitstreamBytes = 102400;

    CVideoEnc();
    CVideoEnc(const CVideoEnc&) = delete;
    CVideoEnc& operator=(const CVideoEnc&) = delete;

    void Open(int width, int height, ITavolinVideoSink* sink);
    bool CreateEncoder();
    void Encode(const uint8_t* picture, bool forceKeyFrame);
    bool Close();
    // 2 (XVID_KEYFRAME) when the last frame produced was a key frame, else 0.
    int KeyFrameFlag() const;
};
