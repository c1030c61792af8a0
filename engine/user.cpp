#include "engine/user.h"

#include "engine/engine.h"
#include "trace/hop_trace.h"
#include "transport/rtp/rtp_packet.h"

CTavolinUser::CTavolinUser() {
    Clear();
    m_VideoDec.Open(kVideoWidth, kVideoHeight, this);
    m_FrameAssembler.SetDecoder(&m_VideoDec);
    m_FrameAssembler.SetReleaser(this);
}

// Users still in the table when the engine goes away close their decoder
// here, so that no codec instance outlives the engine.
CTavolinUser::~CTavolinUser() { m_VideoDec.Close(); }

void CTavolinUser::Retire() {
    m_nAudio = 0;
    m_nVideo = 0;
    m_pView = nullptr;
    m_nSetting = kDefaultSetting;
    m_nUserId = kFreeUserId;
    m_uPublicAddress = kNoAddress;
    m_uVideoPort = 0;
    m_uAudioPort = 0;
    m_bmih = BITMAPINFOHEADER{};
    m_bmih.biSize = sizeof(BITMAPINFOHEADER);
    m_bmih.biWidth = kVideoWidth;
    m_bmih.biHeight = kVideoHeight;
    m_bmih.biPlanes = 1;
    m_bmih.biBitCount = 24;
    m_bmih.biCompression = BI_RGB;
    m_VoiceWatch.Reset();
    m_VideoWatch.Reset();
    m_Counts = PeerCounts{};
    m_bRetiring = true;
}

void CTavolinUser::FinishRetiring() {
    if (!m_bRetiring) return;
    m_VideoDec.Close();
    m_FrameAssembler.ReleaseAll();
    m_bRetiring = false;
}

ITavolinUserView* CTavolinUser::View() const { return m_pEngine && m_pEngine->HostLeft() ? nullptr : m_pView; }

void CTavolinUser::PrepareDecoder() {
    InitCodecLibrary();
    m_VideoDec.CreateDecoder();
    m_FrameAssembler.ResetCount();
}

// Events are told after the packet is handed on: the host may act on the
// engine from them.
void CTavolinUser::OnVideoPacket(int userId, rtp::RTPPacket* packet) {
    const bool started = userId == m_nUserId && m_VideoWatch.Arrived(GetTickCount());
    if (m_nVideo && userId == m_nUserId) {
        const uint32_t ssrc = packet->GetSSRC();
        m_FrameAssembler.AddPacket(ReceivedFragment{packet->GetPayloadData(), packet->GetPayloadLength(),
                                                    packet->GetTimestamp(), packet});
        // Frozen, or waiting long for a lost frame: ask the sender for a key
        // frame (the transmission spaces the asks).
        const bool stuck = m_VideoDec.IsFrozen() || m_FrameAssembler.IsStalled();
        if (stuck && m_nUserId == userId && m_pEngine) m_pEngine->RequestKeyFrame(userId, ssrc);
    } else if (m_pTransmission) {
        m_pTransmission->DeleteVideoPacket(packet);
    }
    // The view may have removed the user while drawing.
    if (started && userId == m_nUserId && m_pEngine) m_pEngine->OnMediaStarted(userId, true);
}

void CTavolinUser::OnAudioPacket(int userId, const uint8_t* payload, size_t length) {
    if (userId != m_nUserId) return;
    const bool started = m_VoiceWatch.Arrived(GetTickCount());
    if (m_pEngine) m_pEngine->OnReceivedVoice(userId, payload, length);
    if (started && userId == m_nUserId && m_pEngine) m_pEngine->OnMediaStarted(userId, false);
}

void CTavolinUser::FillStatistics(TavolinPeerStatistics& out, const PeerTransportStatistics& transport,
                                  uint32_t nowMs) {
    constexpr double kBitsPerKbit = 1000.0 / 8;
    const CVideoDec::Counts& decoded = m_VideoDec.GetCounts();
    out.userId = m_nUserId;
    out.framesReceived = m_FrameAssembler.FramesCompleted();
    out.framesShown = decoded.shown;
    out.videoDecodingCpuSeconds = m_VideoDec.CpuSeconds();
    out.framesDropped = out.framesReceived > out.framesShown ? out.framesReceived - out.framesShown : 0;
    out.freezes = decoded.freezes;
    out.frozenSeconds = decoded.frozenSeconds;
    out.longestFreezeSeconds = decoded.longestFreezeSeconds;
    out.framesShownPerSecond = m_Counts.shownRate.Sample(nowMs, decoded.shown);
    out.videoPacketsReceived = transport.video.media.packets;
    out.voicePacketsReceived = transport.voice.media.packets;
    out.videoKbitsPerSecondIn = m_Counts.videoInBitRate.Sample(nowMs, transport.video.media.bytes) / kBitsPerKbit;
    out.voiceKbitsPerSecondIn = m_Counts.voiceInBitRate.Sample(nowMs, transport.voice.media.bytes) / kBitsPerKbit;
    out.videoKbitsPerSecondOut = m_Counts.videoOutBitRate.Sample(nowMs, transport.video.bytesSent) / kBitsPerKbit;
    out.voiceKbitsPerSecondOut = m_Counts.voiceOutBitRate.Sample(nowMs, transport.voice.bytesSent) / kBitsPerKbit;
}

void CTavolinUser::SetTransmission(ITavolinPacketReleaser* transmission) { m_pTransmission = transmission; }

void CTavolinUser::ReleaseFragment(void* token) {
    if (m_pTransmission) m_pTransmission->DeleteVideoPacket(static_cast<rtp::RTPPacket*>(token));
}

HRESULT CTavolinUser::QueryInterface(const IID&, void**) { return E_FAIL; }

int CTavolinUser::SetValue(int value) {
    m_nSetting = value;
    return 1;
}

int CTavolinUser::EnableVideo(int on) {
    if (on == m_nVideo) return 1;
    const CTavolinEngineImpl::Work work(*m_pEngine);
    m_nVideo = on;
    m_pEngine->SwitchLocalCamera(m_nUserId, on);
    if (ITavolinUserView* view = View()) view->OnVideoEnabled(on);
    return 1;
}

int CTavolinUser::EnableAudio(int on) {
    if (on == m_nAudio) return 1;
    const CTavolinEngineImpl::Work work(*m_pEngine);
    m_nAudio = on;
    m_pEngine->SwitchLocalVoice(m_nUserId, on);
    if (ITavolinUserView* view = View()) view->OnAudioEnabled(on);
    return 1;
}

void CTavolinUser::EnableVideoUnconditionally() {
    m_nVideo = 1;
    if (m_pEngine) m_pEngine->SwitchLocalCamera(m_nUserId, 1);
    if (ITavolinUserView* view = View()) view->OnVideoEnabled(1);
}

void CTavolinUser::DrawPreview(const uint8_t* frame, int length) {
    ITavolinUserView* view = View();
    if (view && m_nVideo) view->DrawFrame(&m_bmih, frame, length);
}

void CTavolinUser::OnDecodedFrame(const uint8_t* picture, int consumed) {
    if (ITavolinUserView* view = View()) view->DrawFrame(&m_bmih, picture, consumed);
    TAVOLIN_HOP_TRACE(FrameStep(kTavolinHopDrawn));
}
