// What the codec calls, and the picture it works on. The engine implements
// the sinks.
#pragma once

#include <cstdint>

// The encoder hands every coded frame to this sink, synchronously.
struct ITavolinVideoSink {
    virtual void OnEncodedVideo(const uint8_t* data, int keyFrame, int length) = 0;
};

// The decoder hands every fully decoded picture to this sink.
struct ITavolinFrameSink {
    virtual void OnDecodedFrame(const uint8_t* picture, int consumed) = 0;
};

// Every picture of the system: 160 x 120, BGR, bottom row first.
constexpr int kVideoWidth = 160;
constexpr int kVideoHeight = 120;
constexpr int kVideoFrameBytes = kVideoWidth * kVideoHeight * 3;
