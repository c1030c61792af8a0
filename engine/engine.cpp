#include "engine/engine.h"

#include "engine/audio_component.h"
#include "engine/log_texts.h"
#include "engine/window_messages.h"
#include "platform/log.h"
#include "transport/rtp/rtp_random.h"

#include <utility>

namespace {
constexpr int kRequestedWidth = kVideoWidth;
constexpr int kRequestedHeight = kVideoHeight;
constexpr int kVoicePayloadTag = 1;
constexpr UINT kDestroySettleMs = 100;
}  // namespace

CTavolinEngineImpl::CTavolinEngineImpl() {
    for (CTavolinUser& user : m_UserArray) user.SetEngine(this);
    m_Transmission.SetObserver(this);
    // The process's own generator: rand() is the host's, and the codec
    // library reseeds it with one seed whenever it makes a decoder.
    rtp::RTPRandom& random = rtp::RTPSystemRandom::Instance();
    for (int i = 0; i < kClassNameLength; ++i) m_szClassName[i] = static_cast<char>('A' + random.GetRandom32() % 26);
    m_szClassName[kClassNameLength] = '\0';
}

CTavolinEngineImpl::~CTavolinEngineImpl() {
    Destroy();
    if (m_AudioEngine) {
        m_AudioEngine->Release();
        m_AudioEngine = nullptr;
    }
}

HRESULT CTavolinEngineImpl::QueryInterface(const IID& iid, void** out) {
    if (!out) return E_INVALIDARG;
    if (IsEqualGUID(iid, IID_ITavolinEngine)) {
        *out = static_cast<ITavolinEngine*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinVideoDevice)) {
        *out = static_cast<ITavolinVideoDevice*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinEvents)) {
        *out = static_cast<ITavolinEvents*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinStatistics)) {
        *out = static_cast<ITavolinStatistics*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinRelay)) {
        *out = static_cast<ITavolinRelay*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinRoomProtection)) {
        *out = static_cast<ITavolinRoomProtection*>(this);
    } else if (IsEqualGUID(iid, IID_ITavolinUplink)) {
        *out = static_cast<ITavolinUplink*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CTavolinEngineImpl::AddRef() { return static_cast<ULONG>(++m_nRefCount); }

ULONG CTavolinEngineImpl::Release() {
    if (--m_nRefCount > 0) return static_cast<ULONG>(m_nRefCount);
    if (m_nWorkDepth > 0) {
        m_bDeletePending = true;
        SetHostLeft(true);
        return 0;
    }
    delete this;
    return 0;
}

void CTavolinEngineImpl::SetHostLeft(bool left) {
    m_bHostLeft = left;
    m_Events.Silence(left);
}

// Runs with no work in progress. Destroy's teardown logs, and a log sink may
// ask for more; each round starts from what is left.
void CTavolinEngineImpl::FinishDeferredActs() {
    for (;;) {
        for (CTavolinUser& user : m_UserArray) user.FinishRetiring();
        if (!m_bDestroyPending) break;
        m_bDestroyPending = false;
        ++m_nWorkDepth;
        TearDown();
        --m_nWorkDepth;
    }
    if (std::exchange(m_bDeletePending, false) && m_nRefCount == 0) {
        delete this;
        return;
    }
    // Torn down and still referenced: a later Create is heard again.
    if (m_bHostLeft) SetHostLeft(false);
}

int CTavolinEngineImpl::Create(HINSTANCE instance, uint32_t serverAddress, int serverPort, int localUserId, int,
                               int receiveOnly) {
    // -1 marks a free user record and can be no one's id.
    if (localUserId == CTavolinUser::kFreeUserId) return 0;
    // An encrypted room sends nothing without its keys.
    if (m_Transmission.IsEncrypted() && !m_Transmission.HasRoomKeys()) return 0;
    const Work work(*this);
    try {
        LogTo(m_pLog, engine_log::kCreateStart, LogIdentity(static_cast<ITavolinEngine*>(this)));

        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &CTavolinEngineImpl::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = m_szClassName;
        if (!RegisterClassExA(&wc)) {
            LogTo(m_pLog, engine_log::kWindowFailed);
            return 0;
        }
        HWND window = CreateWindowExA(0, m_szClassName, "MsgWnd", 0, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
        if (!window) {
            // The class goes with the window: nothing else unregisters it, and
            // a later Create would fail on the name.
            UnregisterClassA(m_szClassName, instance);
            LogTo(m_pLog, engine_log::kWindowFailed);
            return 0;
        }
        m_hWnd = window;
        m_hInstance = instance;
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

        const TransmissionMessages messages{MSG_AUDIO_RECEIVED, MSG_VIDEO_RECEIVED, MSG_AUDIO_PUBLIC_ADDRESS,
                                            MSG_VIDEO_PUBLIC_ADDRESS, this};
        m_Transmission.SetRelay(m_RelaySettings);
        m_Transmission.SetLocalUserId(localUserId);
        m_FailingPeersTold.clear();
        if (!m_Transmission.Create(m_hWnd, messages)) {
            LogTo(m_pLog, engine_log::kRtpCreateFailed);
            return 0;
        }

        // The tag is set before the component starts: its frames may come from any thread.
        m_nVoicePayloadTag = kVoicePayloadTag;
        CreateRegisteredComponent(CLSID_TavolinAudioEngine, IID_ITavolinAudioEngine,
                                  reinterpret_cast<void**>(&m_AudioEngine));
        if (m_AudioEngine) m_AudioEngine->Init(m_hWnd, m_hWnd, static_cast<ITavolinAudioSink*>(this));
        if (m_AudioEngine) m_AudioEngine->SetEngine(static_cast<ITavolinEngine*>(this));

        if (receiveOnly == 0) {
            m_CapZephra.SetLogSink(m_pLog);
            m_CapZephra.SetFrameNotice(MSG_FRAME_CAPTURED, this);
            if (!m_CapZephra.Create(m_hWnd, kRequestedWidth, kRequestedHeight))
                m_Events.Emit(TAVOLIN_EVENT_CAMERA_FAILED, -1, TAVOLIN_MEDIUM_VIDEO, 0, 0, m_CapZephra.GetDeviceName());
            m_VideoEnc.Open(kRequestedWidth, kRequestedHeight, static_cast<ITavolinVideoSink*>(this));
            InitCodecLibrary();
            m_VideoEnc.CreateEncoder();
        }

        CTavolinUser& local = m_UserArray[0];
        local.m_uAudioPort = m_Transmission.GetLocalAudioPort();
        local.m_uVideoPort = m_Transmission.GetLocalVideoPort();
        local.m_nUserId = localUserId;
        m_nLocalUserId = localUserId;
        m_pLocalUser = &local;

        const uint32_t request = kPublicAddressRequest;
        m_Transmission.RequestPublicAddress(serverAddress, static_cast<uint16_t>(serverPort), &request, sizeof request);

        m_nReceiveOnly = receiveOnly;
        m_bAddressTimeoutTold = false;
        for (const int medium : {TAVOLIN_MEDIUM_VOICE, TAVOLIN_MEDIUM_VIDEO})
            m_uRelayAllocationsTold[medium] = m_uRelayFailuresTold[medium] = 0;
        m_bAddressKnown[0] = m_bAddressKnown[1] = false;
        m_uServerAddress = serverAddress;
        m_uServerPort = static_cast<uint16_t>(serverPort);
        for (const TimerSpec& timer : kTimers) SetTimer(m_hWnd, timer.id, timer.periodMs, nullptr);
        return 1;
    } catch (...) {
        LogTo(m_pLog, engine_log::kCreateException);
        return 0;
    }
}

void CTavolinEngineImpl::ReleaseAudioEngine() {
    if (!m_AudioEngine) return;
    m_AudioEngine->Destroy();
    m_AudioEngine->Release();
    m_AudioEngine = nullptr;
}

// Public-address notices own their record; one still waiting when the window
// goes would take its record with it.
void CTavolinEngineImpl::FreeUndeliveredAddressRecords() {
    MSG message{};
    while (PeekMessageA(&message, m_hWnd, MSG_AUDIO_PUBLIC_ADDRESS, MSG_VIDEO_PUBLIC_ADDRESS, PM_REMOVE))
        delete reinterpret_cast<PublicAddressRecord*>(message.wParam);
}

int CTavolinEngineImpl::Destroy() {
    if (!m_hWnd) return 1;
    if (m_nWorkDepth > 0) {
        // From inside a callback: the sessions close once the work returns,
        // after the packets it holds went back to their pools.
        m_bDestroyPending = true;
        SetHostLeft(true);
        return 1;
    }
    const Work work(*this);
    return TearDown();
}

int CTavolinEngineImpl::TearDown() {
    if (!m_hWnd) return 1;
    try {
        LogTo(m_pLog, engine_log::kDestroyAudioEngine);
        ReleaseAudioEngine();
        LogTo(m_pLog, engine_log::kDestroyTransmission);
        m_Transmission.Destroy();
        LogTo(m_pLog, engine_log::kDestroyStopCapture);
        m_CapZephra.StopCapture();
        m_bCapturing = false;
        LogTo(m_pLog, engine_log::kDestroyAudioCodec);
        LogTo(m_pLog, engine_log::kDestroyVideoCodec);
        LogTo(m_pLog, engine_log::kDestroyVideoEnc);
        m_VideoEnc.Close();
        FreeUndeliveredAddressRecords();
        DestroyWindow(m_hWnd);
        if (m_hInstance) UnregisterClassA(m_szClassName, m_hInstance);
        m_hWnd = nullptr;
        m_hInstance = nullptr;
    } catch (...) {
        LogTo(m_pLog, engine_log::kDestroyException, LogIdentity(static_cast<ITavolinEngine*>(this)));
        return 0;
    }
    LogTo(m_pLog, engine_log::kDestroyed, LogIdentity(static_cast<ITavolinEngine*>(this)));
    Sleep(kDestroySettleMs);
    return 1;
}

int CTavolinEngineImpl::SetEventSink(ITavolinEventSink* host) {
    const Work work(*this);
    m_pEventSink = host;
    if (host) {
        host->QueryInterface(IID_ITavolinLogSink, reinterpret_cast<void**>(&m_pLog));
        m_Transmission.SetLogSink(m_pLog);
    }
    return 1;
}

const char* CTavolinEngineImpl::GetDeviceName() { return m_CapZephra.GetDeviceName(); }

int CTavolinEngineImpl::SelectDevice(const char* name) {
    const Work work(*this);
    ++m_uFrameEpoch;  // the new graph frees the frames of the old one
    const int result = m_CapZephra.SelectDevice(name);
    if (!result) m_Events.Emit(TAVOLIN_EVENT_CAMERA_FAILED, -1, TAVOLIN_MEDIUM_VIDEO, 0, 0, name ? name : "");
    if (result && m_pLocalUser) m_pLocalUser->EnableVideoUnconditionally();
    return result;
}

int CTavolinEngineImpl::EnumDevices(int kind, ITavolinDeviceNameSink* sink) {
    constexpr int kVideoDevices = 1;
    if (kind != kVideoDevices) return 0;
    const Work work(*this);
    return m_CapZephra.EnumDevices(sink);
}

int CTavolinEngineImpl::ShowPropertyPage(HWND parent, int dialog) {
    return m_CapZephra.ShowPropertyPage(parent, dialog);
}

int CTavolinEngineImpl::HasPropertyPage(int dialog) { return m_CapZephra.HasPropertyPage(dialog); }
