// The message window: dispatch of the private messages from the poll and
// capture threads, and the four timers.
#include "engine/engine.h"
#include "engine/log_texts.h"
#include "engine/window_messages.h"
#include "platform/log.h"
#include "platform/winsock.h"

#include <arpa/inet.h>

#include <memory>

namespace {
constexpr int kLocalUserLevelId = -1;
constexpr int kLevelScale = 9;

CTavolinEngineImpl* EngineFrom(LPARAM value) { return reinterpret_cast<CTavolinEngineImpl*>(value); }

// Each message is one piece of engine work (see CTavolinEngineImpl::Work).
template <class Handle>
void AsWork(CTavolinEngineImpl* engine, Handle handle) {
    if (!engine) return;
    const CTavolinEngineImpl::Work work(*engine);
    handle(*engine);
}
}  // namespace

LRESULT CTavolinEngineImpl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The received-packet messages carry the transmission of the window's
    // own engine; the others carry the engine.
    CTavolinEngineImpl* const owner = EngineFrom(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_TIMER: AsWork(owner, [&](CTavolinEngineImpl& engine) { engine.OnTimer(wParam); }); return 1;
        case MSG_AUDIO_RECEIVED:
        case MSG_VIDEO_RECEIVED:
            if (!lParam) return 1;
            AsWork(owner, [&](CTavolinEngineImpl& engine) {
                if (message == MSG_VIDEO_RECEIVED)
                    engine.m_Transmission.OnVideoReceived();
                else
                    engine.m_Transmission.OnAudioReceived();
            });
            return 1;
        case MSG_AUDIO_PUBLIC_ADDRESS:
        case MSG_VIDEO_PUBLIC_ADDRESS: {
            std::unique_ptr<PublicAddressRecord> record(reinterpret_cast<PublicAddressRecord*>(wParam));
            if (record) {
                AsWork(EngineFrom(lParam),
                       [&](CTavolinEngineImpl& engine) { engine.OnPublicAddress(message, *record); });
            }
            return DefWindowProcA(window, message, wParam, lParam);
        }
        case MSG_RESERVED: return 1;
        case MSG_FRAME_CAPTURED:
            AsWork(EngineFrom(lParam), [](CTavolinEngineImpl& engine) { engine.OnFrameCaptured(); });
            return 1;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CTavolinEngineImpl::OnTimer(UINT_PTR id) {
    switch (id) {
        case kTimerAudioLevel:
            PollAudioLevels();
            // Here rather than once a second: a dead relay server is told within 5 s.
            WatchRelays();
            AdaptToUplink();
            break;
        case kTimerPublicAddress: RequestPublicAddressAgain(); break;
        case kTimerGreet:
            m_Transmission.GreetPeers();
            WatchArrivals();
            WatchProtection();
            break;
        case kTimerTrans: m_Transmission.SendTrans(); break;
        default: break;
    }
}

void CTavolinEngineImpl::PollAudioLevels() {
    for (CTavolinUser& user : m_UserArray) {
        if (user.m_nUserId == CTavolinUser::kFreeUserId) continue;
        if (!user.IsAudioEnabled() || !m_AudioEngine || !user.View()) continue;
        const int id = user.m_nUserId == m_nLocalUserId ? kLocalUserLevelId : user.m_nUserId;
        const int level = m_AudioEngine->GetLevel(id, kLevelScale);
        if (ITavolinUserView* view = user.View()) view->SetLevel(level);
    }
}

void CTavolinEngineImpl::RequestPublicAddressAgain() {
    if (m_bAddressKnown[0] && m_bAddressKnown[1]) {
        KillTimer(m_hWnd, kTimerPublicAddress);
        return;
    }
    if (!m_bAddressTimeoutTold) {
        m_bAddressTimeoutTold = true;
        // The players reach us at the local pairs the host gives them (a LAN
        // party without the server); the public address is taken if it comes.
        m_Transmission.HearPlayersWithoutPublicAddress();
        LogTo(m_pLog, engine_log::kHearPlayersWithoutPublicIp);
        for (const bool video : {false, true})
            if (!m_bAddressKnown[video]) m_Events.Emit(TAVOLIN_EVENT_PUBLIC_ADDRESS_TIMEOUT, -1, HostMedium(video));
    }
    const uint32_t request = kPublicAddressRequest;
    m_Transmission.RetryPublicAddress(m_uServerAddress, m_uServerPort, &request, sizeof request);
    LogTo(m_pLog, engine_log::kRequestPublicIp);
}

void CTavolinEngineImpl::OnPublicAddress(UINT message, const PublicAddressRecord& record) {
    const bool audio = message == MSG_AUDIO_PUBLIC_ADDRESS;
    m_bAddressKnown[audio ? 0 : 1] = true;
    m_Events.Emit(TAVOLIN_EVENT_PUBLIC_ADDRESS, -1, audio ? TAVOLIN_MEDIUM_VOICE : TAVOLIN_MEDIUM_VIDEO, record.address,
                  record.port);
    if (!m_pEventSink) return;
    if (CTavolinUser* local = FindUser(m_nLocalUserId)) {
        local->m_uPublicAddress = record.address;
        (audio ? local->m_uAudioPort : local->m_uVideoPort) = record.port;
    }
    if (m_uLocalAddress == 0) LookUpLocalAddress();
    if (m_bHostLeft) return;  // the log sink may have destroyed the engine
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
