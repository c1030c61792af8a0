#include "testkit/signal/wav_file.h"

#include <algorithm>
#include <cstring>

namespace voice {

namespace {
constexpr uint32_t kHeaderBytes = 44;
constexpr uint16_t kPcmFormat = 1;
constexpr uint16_t kChannels = 1;
constexpr uint16_t kBitsPerSample = 16;

void PutLe(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

WavFile::~WavFile() { Close(); }

bool WavFile::Open(const std::string& path, int sampleRateHz) {
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    sampleRateHz_ = sampleRateHz;
    dataBytes_ = 0;
    return file_ && WriteHeader();
}

bool WavFile::Append(const int16_t* samples, int count) {
    if (!file_ || count <= 0) return false;
    uint8_t bytes[2 * 480];
    bool ok = true;
    for (int done = 0; done < count && ok;) {
        const int chunk = std::min(count - done, 480);
        for (int i = 0; i < chunk; ++i) PutLe(bytes + 2 * i, static_cast<uint16_t>(samples[done + i]), 2);
        ok = std::fseek(file_, 0, SEEK_END) == 0 &&
             std::fwrite(bytes, 2, static_cast<size_t>(chunk), file_) == static_cast<size_t>(chunk);
        dataBytes_ += static_cast<uint32_t>(2 * chunk);
        done += chunk;
    }
    return ok && WriteHeader();
}

void WavFile::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool WavFile::WriteHeader() {
    uint8_t header[kHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    PutLe(header + 4, kHeaderBytes - 8 + dataBytes_, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe(header + 16, 16, 4);
    PutLe(header + 20, kPcmFormat, 2);
    PutLe(header + 22, kChannels, 2);
    PutLe(header + 24, static_cast<uint32_t>(sampleRateHz_), 4);
    PutLe(header + 28, static_cast<uint32_t>(sampleRateHz_) * kChannels * kBitsPerSample / 8, 4);
    PutLe(header + 32, kChannels * kBitsPerSample / 8, 2);
    PutLe(header + 34, kBitsPerSample, 2);
    std::memcpy(header + 36, "data", 4);
    PutLe(header + 40, dataBytes_, 4);
    return std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(header, 1, kHeaderBytes, file_) == kHeaderBytes &&
           std::fflush(file_) == 0;
}

}  // namespace voice
