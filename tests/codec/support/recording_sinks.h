// Sinks that keep what the encoder and the decoder hand them.
#pragma once

#include "codec/codec_interfaces.h"

#include <cstdint>
#include <vector>

namespace codec_test {

struct CodedFrame {
    std::vector<uint8_t> bytes;
    int keyFrame = 0;
};

class RecordingVideoSink : public ITavolinVideoSink {
public:
    void OnEncodedVideo(const uint8_t* data, int keyFrame, int length) override {
        frames.push_back({std::vector<uint8_t>(data, data + length), keyFrame});
    }
    std::vector<CodedFrame> frames;
};

class RecordingFrameSink : public ITavolinFrameSink {
public:
    void OnDecodedFrame(const uint8_t* picture, int consumed) override {
        pictures.emplace_back(picture, picture + kVideoFrameBytes);
        consumedCounts.push_back(consumed);
        lastPicture = picture;
    }
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<int> consumedCounts;
    const uint8_t* lastPicture = nullptr;
};

}  // namespace codec_test
