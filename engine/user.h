// One player of the room: ids, addresses and ports, the host's view, the
// audio and video switches, and the player's video decoder and reassembler.
#pragma once

#include "codec/codec_interfaces.h"
#include "codec/frame_assembler.h"
#include "codec/video_dec.h"
#include "engine/host_events.h"
#include "engine/statistics.h"
#include "transport/packet_sink.h"
#include "transport/peer_statistics.h"

#include <cstdint>

class CTavolinEngineImpl;

class CTavolinUser : public ITavolinPacketSink,
                     public ITavolinUser,
                     public ITavolinFrameSink,
                     private IFragmentReleaser {
public:
    static constexpr int kFreeUserId = -1;
    static constexpr uint32_t kNoAddress = 0xFFFFFFFF;
    static constexpr int kDefaultSetting = 100;
    // Media that has not come for this long has stopped.
    static constexpr uint32_t kMediaSilenceMs = 2000;

    CTavolinUser();
    ~CTavolinUser();
    CTavolinUser(const CTavolinUser&) = delete;
    CTavolinUser& operator=(const CTavolinUser&) = delete;

    void SetEngine(CTavolinEngineImpl* engine) { m_pEngine = engine; }
    // Frees the record: flags off, no view, no decoder instance, no packets held.
    void Clear() {
        Retire();
        FinishRetiring();
    }
    // Frees the record for the host at once (no id, view or switches); its
    // decoder instance and held packets go with FinishRetiring, once no work
    // runs inside them. A retiring record is taken by no new user.
    void Retire();
    void FinishRetiring();
    bool IsFree() const { return m_nUserId == kFreeUserId && !m_bRetiring; }
    // The host's view, while the host listens.
    ITavolinUserView* View() const;
    // A new user took this record: give it a decoder instance.
    void PrepareDecoder();
    // The host selected a camera: local video on without comparing flags.
    void EnableVideoUnconditionally();
    // Local preview of a captured frame, when the view is set and video is on.
    void DrawPreview(const uint8_t* frame, int length);
    // True once when media of that kind has stopped arriving.
    bool MediaStopped(bool video, uint32_t now) { return (video ? m_VideoWatch : m_VoiceWatch).Stopped(now); }
    // The user's figures for the host, with the counts of its traffic from
    // the transmission; rates are sampled as it asks.
    void FillStatistics(TavolinPeerStatistics& out, const PeerTransportStatistics& transport, uint32_t nowMs);

    // ITavolinPacketSink
    void OnVideoPacket(int userId, rtp::RTPPacket* packet) override;
    void OnAudioPacket(int userId, const uint8_t* payload, size_t length) override;
    void SetTransmission(ITavolinPacketReleaser* transmission) override;
    void ReleaseHeldPackets() override { m_FrameAssembler.ReleaseAll(); }

    // ITavolinUser
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 0; }
    int SetValue(int value) override;
    int GetValue() override { return m_nSetting; }
    int Reserved1(int, int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int EnableVideo(int on) override;
    int EnableAudio(int on) override;
    int IsVideoEnabled() override { return m_nVideo; }
    int IsAudioEnabled() override { return m_nAudio; }

    // ITavolinFrameSink
    void OnDecodedFrame(const uint8_t* picture, int consumed) override;

    int m_nUserId = kFreeUserId;
    uint32_t m_uPublicAddress = kNoAddress;
    uint16_t m_uVideoPort = 0;
    uint16_t m_uAudioPort = 0;
    ITavolinUserView* m_pView = nullptr;

private:
    // IFragmentReleaser: the assembler's fragments go back through the transmission.
    void ReleaseFragment(void* token) override;

    CTavolinEngineImpl* m_pEngine = nullptr;
    BITMAPINFOHEADER m_bmih{};
    int m_nAudio = 0;
    int m_nVideo = 0;
    CVideoDec m_VideoDec;
    CVideoFrameAssembler m_FrameAssembler;
    ITavolinPacketReleaser* m_pTransmission = nullptr;
    int m_nSetting = kDefaultSetting;
    ArrivalWatch m_VoiceWatch{kMediaSilenceMs};
    ArrivalWatch m_VideoWatch{kMediaSilenceMs};
    PeerCounts m_Counts;
    bool m_bRetiring = false;
};
