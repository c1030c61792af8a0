// The system's one video encoder: 160 x 120 BGR pictures in, one MPEG-4
// Part 2 frame out per picture, handed synchronously to the sink.
#pragma once

#include "codec/codec_interfaces.h"
#include "codec/coded_frame_bound.h"

#include <algorithm>
#include <cstdint>

// The codec library's global initialisation; called before creating the
// encoder and before every decoder, it initialises the library once per process.
void InitCodecLibrary();

class CVideoEnc {
public:
    static constexpr int kBitstreamBytes = 102400;

    CVideoEnc();
    // Destroys an instance still open, so nothing of the library leaks.
    ~CVideoEnc();
    CVideoEnc(const CVideoEnc&) = delete;
    CVideoEnc& operator=(const CVideoEnc&) = delete;

    void Open(int width, int height, ITavolinVideoSink* sink);
    bool CreateEncoder();
    void Encode(const uint8_t* picture, bool forceKeyFrame);
    bool Close();
    // 2 (XVID_KEYFRAME) when the last frame produced was a key frame, else 0.
    int KeyFrameFlag() const;
    // The quantiser of the frames coded from now on, within the library's
    // range (1..31); 5 unless set.
    void SetQuantiser(int quantiser);
    int Quantiser() const { return m_Quantiser; }
    // CPU time spent in the library coding frames, over every instance this object created.
    double CpuSeconds() const { return m_CpuSeconds; }

private:
    // No frame longer than kBitstreamBytes is handed on; the buffer itself is
    // as large as the longest frame the library can write at the system's
    // picture size, because the library takes no output limit.
    static constexpr int kBitstreamCapacityBytes =
        static_cast<int>(std::max<int64_t>(kBitstreamBytes, codec::MaxCodedFrameBytes(kVideoWidth, kVideoHeight)));

    int EncodeFrame(const uint8_t* picture, bool forceKeyFrame);

    ITavolinVideoSink* m_Sink = nullptr;
    void* m_Handle = nullptr;
    // The library writes whole words from the word holding the first byte:
    // aligned, it touches nothing before the buffer.
    alignas(16) uint8_t m_Bitstream[kBitstreamCapacityBytes] = {};
    bool m_Stopped = true;
    int m_KeyFrameFlag = 0;
    int m_Quantiser;
    double m_CpuSeconds = 0;
    int m_Width = 0;
    int m_Height = 0;
};
