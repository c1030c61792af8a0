// A 16 kHz mono 16-bit WAV file written as sound arrives; the header's sizes
// are brought up to date after every write, so the file is complete even if
// the process ends without closing it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace voice {

class WavFile {
public:
    ~WavFile();
    bool Open(const std::string& path, int sampleRateHz);
    bool Append(const int16_t* samples, int count);
    void Close();

private:
    bool WriteHeader();

    std::FILE* file_ = nullptr;
    int sampleRateHz_ = 0;
    uint32_t dataBytes_ = 0;
};

}  // namespace voice
