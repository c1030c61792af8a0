// The message window: private messages from the poll and capture threads,
// the four timers, and the media hand-offs that run on the engine thread.
#include "engine/engine.h"
#include "engine/log.h"
#include "engine/log_texts.h"
#include "platform/winsock.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
constexpr int kMaxFragmentData = 536;
constexpr int kFragmentHeaderBytes = 2;
constexpr int kMaxFragments = 255;
constexpr int kVoiceFrameBytes = 50;
constexpr int kKeyFrameAfter = 25;
constexpr int kLocalUserLevelId = -1;
constexpr int kLevelScale = 9;

enum TimerId : UINT_PTR {
    kTimerAudioLevel = 1,
    kTimerPublicAddress = 2,
    kTimerGreet = 3,
    kTimerTrans = 4,
};

CTavolinEngineImpl* EngineFrom(LPARAM value) { return reinterpret_cast<CTavolinEngineImpl*>(value); }
}  // namespace

LRESULT CTavolinEngineImpl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (CTavolinEngineImpl* engine = EngineFrom(GetWindowLongPtrA(window, GWLP_USERDATA)))
                engine->OnTimer(wParam);
            return 1;
        case MSG_AUDIO_RECEIVED:
            if (lParam) reinterpret_cast<CTavolinTransmission*>(lParam)->OnAudioReceived();
            return 1;
        case MSG_VIDEO_RECEIVED:
            if (lParam) reinterpret_cast<CTavolinTransmission*>(lParam)->OnVideoReceived();
            return 1;
        case MSG_AUDIO_PUBLIC_ADDRESS:
        case MSG_VIDEO_PUBLIC_ADDRESS: {
            std::unique_ptr<PublicAddressRecord> record(reinterpret_cast<PublicAddressRecord*>(wParam));
            CTavolinEngineImpl* engine = EngineFrom(lParam);
            if (record && engine) engine->OnPublicAddress(message, *record);
            return DefWindowProcA(window, message, wParam, lParam);
        }
        case MSG_RESERVED:
            return 1;
        case MSG_FRAME_CAPTURED:
            if (lParam) EngineFrom(lParam)->OnFrameCaptured();
            return 1;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CTavolinEngineImpl::OnTimer(UINT_PTR id) {
    switch (id) {
        case kTimerAudioLevel:
            PollAudioLevels();
            break;
        case kTimerPublicAddress:
            RequestPublicAddressAgain();
            break;
        case kTimerGreet:
            m_Transmission.GreetPeers();
            break;
        case kTimerTrans:
            m_Transmission.SendTrans();
            break;
        default:
            break;
    }
}

void CTavolinEngineImpl::PollAudioLevels() {
    for (CTavolinUser& user : m_UserArray) {
        if (user.m_nUserId == CTavolinUser::kFreeUserId) continue;
        if (!user.IsAudioEnabled() || !m_AudioEngine || !user.m_pView) continue;
        const int id = user.m_nUserId == m_nLocalUserId ? kLocalUserLevelId : user.m_nUserId;
        user.m_pView->SetLevel(m_AudioEngine->GetLevel(id, kLevelScale));
    }
}

void CTavolinEngineImpl::RequestPublicAddressAgain() {
    if (m_Transmission.HasPublicAddresses()) {
        KillTimer(m_hWnd, kTimerPublicAddress);
        return;
    }
    const uint32_t request = kPublicAddressRequest;
    m_Transmission.RetryPublicAddress(m_uServerAddress, m_uServerPort, &request, sizeof request);
    LogTo(m_pLog, engine_log::kRequestPublicIp);
}

void CTavolinEngineImpl::OnPublicAddress(UINT message, const PublicAddressRecord& record) {
    if (!m_pEventSink) return;
    const bool audio = message == MSG_AUDIO_PUBLIC_ADDRESS;
    if (CTavolinUser* local = FindUser(m_nLocalUserId)) {
        local->m_uPublicAddress = record.address;
        (audio ? local->m_uAudioPort : local->m_uVideoPort) = record.port;
    }
    if (m_uLocalAddress == 0) LookUpLocalAddress();
    if (audio)
        m_pEventSink->OnAudioAddress(record.address, m_uLocalAddress, record.port, m_Transmission.GetLocalAudioPort());
    else
        m_pEventSink->OnVideoAddress(record.address, m_uLocalAddress, record.port, m_Transmission.GetLocalVideoPort());
}

// The machine's own address is only reported to the host, never sent to.
void CTavolinEngineImpl::LookUpLocalAddress() {
    in_addr address{};
    if (!GetOwnHostAddress(&address)) return;
    char dotted[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address, dotted, sizeof dotted)) return;
    LogTo(m_pLog, engine_log::kLocalIp, dotted);
    m_uLocalAddress = ntohl(address.s_addr);
}

void CTavolinEngineImpl::OnFrameCaptured() {
    uint32_t length = 0;
    const uint8_t* frame = m_CapZephra.GetFrame(&length);
    if (!frame) return;
    if (m_pLocalUser) m_pLocalUser->DrawPreview(frame, static_cast<int>(length));
    m_VideoEnc.Encode(frame, m_nFramesSinceKeyFrame > kKeyFrameAfter);
    if (m_VideoEnc.KeyFrameFlag())
        m_nFramesSinceKeyFrame = 0;
    else
        ++m_nFramesSinceKeyFrame;
}

void CTavolinEngineImpl::OnEncodedVideo(const uint8_t* data, int, int length) {
    if (length < 0) return;
    const int fragments = (length + kMaxFragmentData - 1) / kMaxFragmentData;
    // The count travels in one byte; the encoder never gets near this.
    if (fragments > kMaxFragments) return;
    m_Transmission.NextVideoFrame();
    uint8_t fragment[kFragmentHeaderBytes + kMaxFragmentData];
    for (int i = 0; i < fragments; ++i) {
        const int offset = i * kMaxFragmentData;
        const int bytes = std::min(kMaxFragmentData, length - offset);
        fragment[0] = static_cast<uint8_t>(fragments);
        fragment[1] = static_cast<uint8_t>(i);
        std::memcpy(fragment + kFragmentHeaderBytes, data + offset, static_cast<size_t>(bytes));
        m_Transmission.SendVideo(fragment, static_cast<size_t>(bytes + kFragmentHeaderBytes), 0);
    }
}

void CTavolinEngineImpl::OnEncodedAudio(const uint8_t* data, int length) {
    if (length != kVoiceFrameBytes) return;
    uint8_t payload[1 + kVoiceFrameBytes];
    payload[0] = static_cast<uint8_t>(m_nVoicePayloadTag);
    std::memcpy(payload + 1, data, kVoiceFrameBytes);
    m_Transmission.SendAudio(payload, sizeof payload);
}

void CTavolinEngineImpl::OnReceivedVoice(int userId, const uint8_t* payload, size_t length) {
    // An empty payload has no tag to check.
    if (length < 1 || payload[0] != m_nVoicePayloadTag) return;
    if (m_AudioEngine) m_AudioEngine->PlayAudio(userId, payload + 1, static_cast<int>(length - 1));
}
