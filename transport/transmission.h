// The engine's network side: two RTP sessions (voice, video), the table of up
// to 16 peers with their public and local address pairs, the receive queues
// that carry packets from the poll threads to the window thread, and the
// public-address discovery and greeting of peers.
#pragma once

#include "engine/internal_interfaces.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

class CTavolinTransmission : public ITavolinPacketReleaser {
public:
    CTavolinTransmission();
    ~CTavolinTransmission();
    CTavolinTransmission(const CTavolinTransmission&) = delete;
    CTavolinTransmission& operator=(const CTavolinTransmission&) = delete;

    void DeleteVideoPacket(rtp::RTPPacket* packet) override;
    void DeleteAudioPacket(rtp::RTPPacket* packet) override;

    void SetLogSink(ITavolinLogSink* sink);
    // Posted back as lParam of 6442/6443 (the engine object).
    void SetEventContext(void* context);

    int Create(HWND window);
    int Destroy();

    int AddUser(int userId, uint32_t publicAddress, uint32_t localAddress, ITavolinPacketSink* sink);
    int SetUserAudioPort(int userId, uint16_t publicPort, uint16_t localPort);
    int SetUserVideoPort(int userId, uint16_t publicPort, uint16_t localPort);
    int RemoveUser(int userId);

    int NextVideoFrame();
    bool SendVideo(const void* data, size_t length, uint32_t timestampIncrement);
    bool SendAudio(const void* data, size_t length);

    int RequestPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);
    void RetryPublicAddress(uint32_t serverAddress, uint16_t serverPort, const void* data, size_t length);
    bool HasPublicAddresses() const;
    void GreetPeers();
    void SendTrans();

    // Window thread, one queued packet per call.
    void OnAudioReceived();
    void OnVideoReceived();

    uint16_t GetLocalAudioPort() const;
    uint16_t GetLocalVideoPort() const;
};
