// The engine object the host drives: owns the encoder, the capture engine,
// the transmission, the optional voice component, the 16 user records and the
// hidden message window with its timers. All work runs on the thread that
// called Create.
//
// The host may act on the engine from inside any callback. What would free
// memory the engine's work in progress still uses waits until the outermost
// piece of that work returns: Destroy's teardown, the clearing of a removed
// user's record, the deletion after the last Release. From the moment the
// host asks for the first two of these it hears nothing more from the engine
// but log texts.
#pragma once

#include "capture/cap_zephra.h"
#include "codec/codec_interfaces.h"
#include "codec/video_enc.h"
#include "engine/host_events.h"
#include "engine/statistics.h"
#include "engine/user.h"
#include "engine/video_ladder.h"
#include "platform/win32.h"
#include "transport/transmission.h"

#include <cstdint>
#include <vector>

class CTavolinEngineImpl final : public ITavolinEngine,
                                 public ITavolinVideoSink,
                                 public ITavolinAudioSink,
                                 public ITavolinVideoDevice,
                                 public ITavolinEvents,
                                 public ITavolinStatistics,
                                 public ITavolinRelay,
                                 public ITavolinRoomProtection,
                                 public ITavolinUplink,
                                 private ITransmissionObserver {
public:
    static constexpr int kUserCount = 16;
    static constexpr int kClassNameLength = 31;
    // The public-address request carries the 32-bit value 1.
    static constexpr uint32_t kPublicAddressRequest = 1;
    // A capturing camera that delivers nothing for this long is lost.
    static constexpr uint32_t kCameraSilenceMs = 3000;

    CTavolinEngineImpl();
    ~CTavolinEngineImpl();
    CTavolinEngineImpl(const CTavolinEngineImpl&) = delete;
    CTavolinEngineImpl& operator=(const CTavolinEngineImpl&) = delete;

    // IUnknown, shared by both host interfaces (one object, one count).
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // ITavolinEngine
    int Create(HINSTANCE instance, uint32_t serverAddress, int serverPort, int localUserId, int codecFlag,
               int receiveOnly) override;
    int Destroy() override;
    int AddUser(int userId, uint32_t publicAddress, uint32_t localAddress) override;
    int SetUserAudioPort(int userId, int publicPort, int localPort) override;
    int SetUserVideoPort(int userId, int publicPort, int localPort) override;
    int SetUserView(int userId, ITavolinUserView* view) override;
    int HasUser(int userId) override;
    int RemoveUser(int userId) override;
    int GetUser(int userId, ITavolinUser** out) override;
    uint32_t GetLocalAddress() override;
    uint16_t GetLocalAudioPort() override;
    uint16_t GetLocalVideoPort() override;
    int SetEventSink(ITavolinEventSink* host) override;

    // ITavolinVideoDevice
    const char* GetDeviceName() override;
    int SelectDevice(const char* name) override;
    int EnumDevices(int kind, ITavolinDeviceNameSink* sink) override;
    int ShowPropertyPage(HWND parent, int dialog) override;
    int HasPropertyPage(int dialog) override;

    // ITavolinEvents
    int Subscribe(ITavolinEventListener* listener) override { return m_Events.Subscribe(listener); }
    int Unsubscribe(ITavolinEventListener* listener) override { return m_Events.Unsubscribe(listener); }

    // ITavolinStatistics (engine_statistics.cpp)
    int GetLocalStatistics(TavolinLocalStatistics* out) override;
    int GetPeerStatistics(int userId, TavolinPeerStatistics* out) override;

    // ITavolinRelay (engine_relay.cpp)
    int SetRelayServers(const TavolinRelayServer* servers, int count) override;
    int SetRelayPolicy(int policy) override;
    int GetRelayStatistics(int medium, TavolinRelayStatistics* out) override;

    // ITavolinRoomProtection (engine_protection.cpp)
    int SetRoomMode(int mode) override;
    int SetRoomKeys(const uint8_t* roomId, int roomIdLength, uint32_t epoch, const uint8_t* secret,
                    int secretLength) override;
    int GetRoomMode() override;

    // ITavolinUplink (uplink_adaptation.cpp)
    int SetUplinkAdaptation(int on) override;
    int GetUplinkAdaptation() override { return m_bAdaptUplink ? 1 : 0; }

    // ITavolinVideoSink: cuts a coded frame into numbered fragments.
    void OnEncodedVideo(const uint8_t* data, int keyFrame, int length) override;
    // ITavolinAudioSink: frames a 50-byte voice frame as a tagged payload.
    // Any thread between the component's Init and Destroy: the voice session
    // sends under its own lock.
    void OnEncodedAudio(const uint8_t* data, int length) override;

    // Reached through the user records.
    void SwitchLocalCamera(int userId, int on);
    void SwitchLocalVoice(int userId, int on);
    void OnReceivedVoice(int userId, const uint8_t* payload, size_t length);
    void OnMediaStarted(int userId, bool video);
    void RequestKeyFrame(int userId, uint32_t mediaSSRC) { m_Transmission.RequestKeyFrame(userId, mediaSSRC); }
    // Destroy requested or the last reference given back: no listener, view
    // or event sink is called any more.
    bool HostLeft() const { return m_bHostLeft; }

    // Engine work that may call the host. While any runs, the deferred acts
    // above wait; the outermost one's end carries them out (and may delete
    // the engine, so nothing may touch it after a Work ends).
    class Work {
    public:
        explicit Work(CTavolinEngineImpl& engine) : engine_(engine) { ++engine_.m_nWorkDepth; }
        ~Work() {
            if (--engine_.m_nWorkDepth == 0) engine_.FinishDeferredActs();
        }
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;

    private:
        CTavolinEngineImpl& engine_;
    };

    HWND Window() const { return m_hWnd; }
    // The message window's procedure.
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    // Destroy's work: everything the engine opened is closed.
    int TearDown();
    // What the host asked during the work that just ended (see Work).
    void FinishDeferredActs();
    void SetHostLeft(bool left);

    // Message window work (window_proc.cpp).
    void OnTimer(UINT_PTR id);
    void PollAudioLevels();
    void RequestPublicAddressAgain();
    void OnPublicAddress(UINT message, const PublicAddressRecord& record);
    void LookUpLocalAddress();
    // A captured frame to the preview and the encoder (capture_handoff.cpp).
    void OnFrameCaptured();
    // Events of silence: media from a peer, frames from the camera (greeting timer).
    void WatchArrivals();
    // Events of the sessions' relays: allocated, failed (audio level timer).
    void WatchRelays();
    // The send budget from the peers' reports, and the video fitted to it
    // (uplink_adaptation.cpp); audio level timer.
    void AdaptToUplink();
    void TellHeldVideo(const std::vector<int>& held, bool uplinkPaused);
    void TellVideoReduced(bool reduced);
    // Whether the captured frame is coded, at the ladder's frame rate and
    // within the budget; an uncoded one does not advance the video timestamp.
    bool CodesThisFrame();
    // After each coded frame: what it takes of the video allowance, and the
    // coded count the ladder learns the camera's cost from.
    void SpendVideoAllowance(size_t frameBytes, int fragments);
    // Events of peers whose datagrams keep failing to open (greeting timer).
    void WatchProtection();

    // ITransmissionObserver
    void OnPeerGreeted(int userId, bool video) override;
    void OnPeerSwitchedToLocal(int userId) override;

    CTavolinUser* FindUser(int userId);
    CTavolinUser* FindFreeRecord();
    int SetUserPort(int userId, int publicPort, int localPort, bool video);
    void ReleaseAudioEngine();
    // The transmission's RTCP, feedback and resend figures of one peer (null:
    // a user the transmission does not know).
    void FillTransportStatistics(const PeerTransportStatistics* transport, TavolinPeerStatistics& out);
    void FreeUndeliveredAddressRecords();

    uint32_t m_uLocalAddress = 0;
    char m_szClassName[kClassNameLength + 1] = {};
    int m_nReceiveOnly = 0;
    int m_nFramesSinceKeyFrame = 0;
    int m_nRefCount = 1;
    int m_nVoicePayloadTag = 0;
    HINSTANCE m_hInstance = nullptr;
    uint32_t m_uServerAddress = 0;
    uint16_t m_uServerPort = 0;
    CVideoEnc m_VideoEnc;
    CCapZephra m_CapZephra;
    CTavolinTransmission m_Transmission;
    ITavolinAudioEngine* m_AudioEngine = nullptr;
    int m_nLocalUserId = CTavolinUser::kFreeUserId;
    HWND m_hWnd = nullptr;
    CTavolinUser m_UserArray[kUserCount];
    CTavolinUser* m_pLocalUser = nullptr;
    ITavolinEventSink* m_pEventSink = nullptr;
    ITavolinLogSink* m_pLog = nullptr;

    HostEvents m_Events;
    bool m_bCapturing = false;
    bool m_bCameraLost = false;
    ArrivalWatch m_CameraWatch{kCameraSilenceMs};
    bool m_bAddressTimeoutTold = false;
    // Which public-address notices (voice, video) the window has had: the
    // request timer ends once both came.
    bool m_bAddressKnown[2] = {false, false};
    RelaySettings m_RelaySettings;
    // How many relay allocations and failures (voice, video) the host has
    // been told of since Create.
    uint64_t m_uRelayAllocationsTold[2] = {0, 0};
    uint64_t m_uRelayFailuresTold[2] = {0, 0};
    // Peers told of as failing to open since one of their datagrams last opened.
    std::vector<int> m_FailingPeersTold;
    uint32_t m_uLastAskedKeyFrame = 0;  // GetTickCount of the last key frame a peer asked for
    LocalCounts m_Counts;
    // The uplink: one budget, the video ladder, who is held and why.
    bool m_bAdaptUplink = false;
    pacing::SendBudget m_SendBudget;
    VideoLadder m_Ladder;
    FrameThinner m_FrameThinner;
    VideoAllowance m_VideoAllowance{pacing::kLongestFrameSpreadSeconds};
    double m_dVideoBudget = 0;         // one stream's, bits/s; 0 without adaptation
    std::vector<int> m_HeldVideoTold;  // peers whose video is held for their downlink
    bool m_bVideoPausedTold = false;   // for every peer, for the uplink
    bool m_bVoiceDoesNotFitTold = false;
    bool m_bVideoReducedTold = false;
    bool m_bKeyFrameWanted = false;  // a held peer gets video again
    double m_dLastMeasureAt = -1;
    uint64_t m_uLastMeasureBytes = 0;
    double m_dMeasuredVideo = 0;  // one stream's video on the wire, bits/s
    // What each frame coded lately took on the wire: a frame the budget
    // leaves uncoded does not make the camera look cheaper.
    uint64_t m_uCodedFramesAtMeasure = 0;
    uint64_t m_uCodedBitsAtMeasure = 0;
    double m_dCodedFrameBits = 0;
    // Changes whenever the frame taken from the camera may be gone: at each
    // take, and when the camera changes.
    uint32_t m_uFrameEpoch = 0;

    int m_nWorkDepth = 0;
    bool m_bDestroyPending = false;
    bool m_bDeletePending = false;
    bool m_bHostLeft = false;
};
