// The engine's user operations: the table of 16 records, record 0 the local
// user after Create.
#include "engine/engine.h"
#include "engine/log_texts.h"
#include "platform/log.h"

namespace {
constexpr uint32_t kNoAddressAlternative = 0;
constexpr int kSwitchOn = 1;

bool IsNoAddress(uint32_t address) { return address == CTavolinUser::kNoAddress || address == kNoAddressAlternative; }
}  // namespace

// -1 marks a free record: it names no user.
CTavolinUser* CTavolinEngineImpl::FindUser(int userId) {
    if (userId == CTavolinUser::kFreeUserId) return nullptr;
    for (CTavolinUser& user : m_UserArray)
        if (user.m_nUserId == userId) return &user;
    return nullptr;
}

CTavolinUser* CTavolinEngineImpl::FindFreeRecord() {
    for (CTavolinUser& user : m_UserArray)
        if (user.IsFree()) return &user;
    return nullptr;
}

int CTavolinEngineImpl::AddUser(int userId, uint32_t publicAddress, uint32_t localAddress) {
    if (userId == m_nLocalUserId || userId == CTavolinUser::kFreeUserId) return 0;
    const Work work(*this);
    try {
        if (CTavolinUser* known = FindUser(userId)) {
            if (IsNoAddress(publicAddress)) return 0;
            known->m_uPublicAddress = publicAddress;
            if (m_Transmission.AddUser(userId, publicAddress, localAddress, known)) return 1;
            LogTo(m_pLog, engine_log::kTransmissionAddUserFailed, userId);
            return 0;
        }
        CTavolinUser* user = FindFreeRecord();
        if (!user) return 0;
        user->Clear();
        user->m_uPublicAddress = publicAddress;
        user->m_nUserId = userId;
        user->PrepareDecoder();
        if (!m_Transmission.AddUser(userId, publicAddress, localAddress, user))
            LogTo(m_pLog, engine_log::kTransmissionAddUserFailed, userId);
        return 1;
    } catch (...) {
        LogTo(m_pLog, engine_log::kAddUserException);
        return 0;
    }
}

int CTavolinEngineImpl::SetUserAudioPort(int userId, int publicPort, int localPort) {
    return SetUserPort(userId, publicPort, localPort, false);
}

int CTavolinEngineImpl::SetUserVideoPort(int userId, int publicPort, int localPort) {
    return SetUserPort(userId, publicPort, localPort, true);
}

namespace {
// What SetUserPort logs, per medium.
struct PortTexts {
    const char* unknownUser;
    const char* taken;
    const char* transmissionFailed;
};
constexpr PortTexts kAudioPortTexts{engine_log::kAudioPortUnknownUser, engine_log::kAudioPortTaken,
                                    engine_log::kTransmissionAudioPortFailed};
constexpr PortTexts kVideoPortTexts{engine_log::kVideoPortUnknownUser, engine_log::kVideoPortTaken,
                                    engine_log::kTransmissionVideoPortFailed};
}  // namespace

int CTavolinEngineImpl::SetUserPort(int userId, int publicPort, int localPort, bool video) {
    if (userId == m_nLocalUserId) return 0;
    const Work work(*this);
    const PortTexts& texts = video ? kVideoPortTexts : kAudioPortTexts;
    CTavolinUser* user = FindUser(userId);
    if (!user) {
        LogTo(m_pLog, texts.unknownUser, userId);
        return 0;
    }
    uint16_t& port = video ? user->m_uVideoPort : user->m_uAudioPort;
    if (port != 0) {
        LogTo(m_pLog, texts.taken, userId);
        return 0;
    }
    port = static_cast<uint16_t>(publicPort);
    if (!m_Transmission.SetUserPort(userId, MediumOf(video), static_cast<uint16_t>(publicPort),
                                    static_cast<uint16_t>(localPort)))
        LogTo(m_pLog, texts.transmissionFailed, userId);
    return 1;
}

int CTavolinEngineImpl::SetUserView(int userId, ITavolinUserView* view) {
    CTavolinUser* user = FindUser(userId);
    if (!user) return 0;
    user->m_pView = view;
    return 1;
}

int CTavolinEngineImpl::HasUser(int userId) { return FindUser(userId) ? 1 : 0; }

int CTavolinEngineImpl::RemoveUser(int userId) {
    if (userId == m_nLocalUserId) return 0;
    if (!static_cast<ITavolinEngine*>(this)->HasUser(userId)) return 0;
    const Work work(*this);
    try {
        CTavolinUser* user = FindUser(userId);
        LogTo(m_pLog, engine_log::kRemoveClear);
        // The record is cleared when the work in progress ends: a view may be
        // removing its user from inside the user's decoder.
        user->Retire();
        LogTo(m_pLog, engine_log::kRemoveTransmission);
        m_Transmission.RemoveUser(userId);
        LogTo(m_pLog, engine_log::kRemoveAudioEngine);
        if (m_AudioEngine) m_AudioEngine->RemoveUser(userId);
        return 1;
    } catch (...) {
        LogTo(m_pLog, engine_log::kRemoveUserException);
        return 0;
    }
}

int CTavolinEngineImpl::GetUser(int userId, ITavolinUser** out) {
    if (!out) return 0;
    CTavolinUser* user = FindUser(userId);
    if (!user) return 0;
    *out = user;
    return 1;
}

uint32_t CTavolinEngineImpl::GetLocalAddress() {
    CTavolinUser* local = FindUser(m_nLocalUserId);
    return local ? local->m_uPublicAddress : CTavolinUser::kNoAddress;
}

uint16_t CTavolinEngineImpl::GetLocalAudioPort() {
    CTavolinUser* local = FindUser(m_nLocalUserId);
    return local ? local->m_uAudioPort : 0;
}

uint16_t CTavolinEngineImpl::GetLocalVideoPort() {
    CTavolinUser* local = FindUser(m_nLocalUserId);
    return local ? local->m_uVideoPort : 0;
}

void CTavolinEngineImpl::SwitchLocalCamera(int userId, int on) {
    if (userId != m_nLocalUserId || m_nReceiveOnly) return;
    if (on != kSwitchOn) {
        m_CapZephra.StopCapture();
        m_bCapturing = false;
        return;
    }
    const bool started = m_CapZephra.StartCapture();
    if (started == m_bCapturing) return;  // already running: nothing new to tell
    m_bCapturing = started;
    m_bCameraLost = false;
    m_CameraWatch.Arrived(GetTickCount());
    m_Events.Emit(started ? TAVOLIN_EVENT_CAMERA_STARTED : TAVOLIN_EVENT_CAMERA_FAILED, userId, TAVOLIN_MEDIUM_VIDEO, 0,
                  0, m_CapZephra.GetDeviceName());
}

void CTavolinEngineImpl::SwitchLocalVoice(int userId, int on) {
    if (userId != m_nLocalUserId || m_nReceiveOnly || !m_AudioEngine) return;
    if (on == kSwitchOn)
        m_AudioEngine->StartSend();
    else
        m_AudioEngine->StopSend();
}
