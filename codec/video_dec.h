// One user's video decoder: whole coded frames in, 160 x 120 BGR pictures
// (bottom row first) out to the frame sink.
#pragma once

#include "codec/codec_interfaces.h"
#include "codec/guard_paged_buffer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

class CVideoDec {
public:
    // The library reads the coded frame in whole aligned words: it may look
    // at up to 3 bytes before an unaligned start and up to this many bytes
    // past the end. Callers keep those bytes readable.
    static constexpr int kInputPaddingBytes = 16;

    CVideoDec();
    // Destroys an instance still open, so nothing of the library leaks.
    ~CVideoDec();
    CVideoDec(const CVideoDec&) = delete;
    CVideoDec& operator=(const CVideoDec&) = delete;

    void Open(int width, int height, ITavolinFrameSink* sink);
    // A new instance shows nothing until a key frame decodes.
    bool CreateDecoder();
    void Decode(const uint8_t* frame, int length);
    // Whether the coded frame's first picture is intra coded (decodes without
    // a reference); only its headers are read, so a first fragment suffices.
    static bool IsKeyFrame(const uint8_t* frame, size_t length);
    bool Close();
    const uint8_t* Picture() const;

    // A frame the stream refers to was lost: every picture until the next key
    // frame would be decoded against one this decoder never had, so none is
    // shown; the view keeps the last good one.
    void MarkReferenceLost();
    // Waiting for a key frame: nothing is shown.
    bool IsFrozen() const { return m_Frozen; }

    struct Counts {
        uint64_t shown = 0;
        uint64_t droppedWhileFrozen = 0;
        uint64_t freezes = 0;  // after the first picture
        double frozenSeconds = 0;
        double longestFreezeSeconds = 0;
    };
    const Counts& GetCounts() const { return m_Counts; }
    // CPU time spent in the library decoding, over every instance this object created.
    double CpuSeconds() const { return m_CpuSeconds; }

private:
    // One library call; a stream header (VOL) ends the call early and is
    // reported in `stats`, so its picture size can be checked first.
    int DecodeFrame(const uint8_t* frame, int length, void* stats);
    bool HasSystemPictureSize() const;

    ITavolinFrameSink* m_Sink = nullptr;
    void* m_Handle = nullptr;
    // Ends at an inaccessible page: a picture written too large faults
    // instead of overwriting other memory.
    codec::GuardPagedBuffer m_Picture;
    int m_Width = 0;
    int m_Height = 0;
    bool m_Frozen = true;
    std::chrono::steady_clock::time_point m_FrozenSince;
    Counts m_Counts;
    double m_CpuSeconds = 0;
};
