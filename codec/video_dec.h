// One user's video decoder: whole coded frames in, 160 x 120 BGR pictures
// (bottom row first) out to the frame sink.
#pragma once

#include "engine/internal_interfaces.h"

#include <cstdint>

class CVideoDec {
public:
    CVideoDec();
    ~CVideoDec();
    CVideoDec(const CVideoDec&) = delete;
    CVideoDec& operator=(const CVideoDec&) = delete;

    void Open(int width, int height, ITavolinFrameSink* sink);
    bool CreateDecoder();
    void Decode(const uint8_t* frame, int length);
    bool Close();
    const uint8_t* Picture() const;
};
