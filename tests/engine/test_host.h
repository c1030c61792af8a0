// A host for engine tests: event sink that hands out a recording log sink and
// records the public addresses it is told, user views that record frames, and
// a voice component that records every call made on it.
#pragma once

#include "tests/support/recording_log_sink.h"

#include <tavolin/tavolin.h>

#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

struct AddressReport {
    bool audio;
    uint32_t publicAddress, localAddress;
    int publicPort, localPort;
};

class TestEventSink : public ITavolinEventSink {
public:
    RecordingLogSink log;
    std::vector<AddressReport> addresses;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!IsEqualGUID(iid, IID_ITavolinLogSink)) return E_NOINTERFACE;
        *out = static_cast<ITavolinLogSink*>(&log);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int OnAudioAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) override {
        addresses.push_back({true, publicAddress, localAddress, publicPort, localPort});
        return 1;
    }
    int OnVideoAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) override {
        addresses.push_back({false, publicAddress, localAddress, publicPort, localPort});
        return 1;
    }
};

class TestView : public ITavolinUserView {
public:
    int frames = 0;
    int lastLength = 0;
    std::vector<uint8_t> lastFrame;
    BITMAPINFOHEADER lastHeader{};
    std::vector<int> levels, videoSwitches, audioSwitches;

    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) override {
        ++frames;
        lastHeader = *header;
        lastLength = length;
        lastFrame.assign(bytes, bytes + header->biWidth * header->biHeight * 3);
        return 1;
    }
    int SetLevel(int level) override {
        levels.push_back(level);
        return 1;
    }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int on) override {
        videoSwitches.push_back(on);
        return 1;
    }
    int OnAudioEnabled(int on) override {
        audioSwitches.push_back(on);
        return 1;
    }
};

// Records calls in order as short names ("Init", "PlayAudio:7:50", ...).
class RecordingAudioEngine : public ITavolinAudioEngine {
public:
    std::vector<std::string> calls;
    ITavolinAudioSink* sink = nullptr;
    int refs = 1;
    int level = 42;

    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override {
        calls.push_back("Release");
        return static_cast<ULONG>(--refs);
    }
    int Init(HWND, HWND, ITavolinAudioSink* audioSink) override {
        sink = audioSink;
        calls.push_back("Init");
        return 1;
    }
    int PlayAudio(int userId, const uint8_t*, int length) override {
        calls.push_back("PlayAudio:" + std::to_string(userId) + ":" + std::to_string(length));
        return 1;
    }
    int RemoveUser(int userId) override {
        calls.push_back("RemoveUser:" + std::to_string(userId));
        return 1;
    }
    int SetEngine(ITavolinEngine*) override {
        calls.push_back("SetEngine");
        return 1;
    }
    int Destroy() override {
        calls.push_back("Destroy");
        return 1;
    }
    int StartSend() override {
        calls.push_back("StartSend");
        return 1;
    }
    int StopSend() override {
        calls.push_back("StopSend");
        return 1;
    }
    int Reserved() override { return 0; }
    int GetLevel(int userId, int) override {
        calls.push_back("GetLevel:" + std::to_string(userId));
        return level;
    }
};

}  // namespace testing_support
