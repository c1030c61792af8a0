// One user's video decoder: whole coded frames in, 160 x 120 BGR pictures
// (bottom row first) out to the frame sink.
#pragma once

#include "codec/guard_paged_buffer.h"
#include "codec/codec_interfaces.h"

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
    bool CreateDecoder();
    void Decode(const uint8_t* frame, int length);
    bool Close();
    const uint8_t* Picture() const;

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
};
