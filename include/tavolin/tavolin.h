/* Tavolin: real-time video and voice chat for the players of one game room.
 *
 * Everything a host needs: load libtavolin.so, find DllGetClassObjectEx,
 * obtain the engine, set an event sink, Create, pump the engine thread's
 * messages with the Tavolin*Message* functions, Destroy, Release.
 *
 * To see and send video, after Create on the engine thread:
 *   1. choose a camera: QueryInterface(IID_ITavolinVideoDevice) and
 *      SelectDevice(name) (names from EnumDevices; synthetic cameras from
 *      TavolinAddSyntheticCamera on machines without one);
 *   2. set views: SetUserView(localId, preview) for the own picture and,
 *      after AddUser and SetUser*Port of each peer, SetUserView(peerId, view);
 *   3. switch video on: GetUser(localId)->EnableVideo(1) starts capturing and
 *      sending (nothing is sent or previewed without it), and
 *      GetUser(peerId)->EnableVideo(1) for each peer whose video you want.
 *
 * Threads. Every call into the engine, and every callback out of it (event
 * sink, log sink, views, voice component), happens on the engine thread: the
 * thread that called Create and pumps its messages. Two calls do not: a voice
 * component hands its frames to the engine's ITavolinAudioSink from any
 * thread, and a synthetic speaker's callback runs on the voice playout
 * thread. Inside, the library runs the engine thread's helpers: two RTP poll
 * threads (voice and video sessions), the camera's streaming thread and the
 * voice component's microphone, playout and device threads; of them only
 * the playout thread calls the host, for a synthetic speaker.
 *
 * Callbacks. A host may call the engine from inside any callback, Destroy,
 * RemoveUser, SelectDevice and the last Release included. Destroy there
 * returns 1 and the engine is torn down (with its log texts) as soon as its
 * work in progress returns, before the pump call or the host's own call that
 * led to the callback returns; from the Destroy or the last Release on, no
 * listener, view or event sink is called, only the log sink, which must live
 * until then. A user removed there is gone for the host at once: HasUser
 * says 0 and its view hears nothing more.
 *
 * Interfaces are tables of virtual operations in a fixed slot order
 * (COM style, no virtual destructors). Do not reorder anything here. */
#ifndef TAVOLIN_TAVOLIN_H
#define TAVOLIN_TAVOLIN_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Platform types a host sees ------------------------------------- */

typedef int32_t HRESULT;
typedef uint32_t ULONG;

typedef struct TavolinGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

/* Opaque handles. A module instance is any non-null value the host picks
 * (for instance the handle dlopen returned); window handles are the engine's. */
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define BI_RGB 0u

/* The 40-byte header that describes every picture handed to a view:
 * 160 x 120, 24 bits, blue-green-red, bottom row first. */
typedef struct TavolinBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BITMAPINFOHEADER;

/* ---- Identifiers ------------------------------------------------------ */

/* Class identifiers handed to DllGetClassObjectEx. */
static const CLSID CLSID_TavolinEngine = {
    0x6f1d2a41, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb4, 0x11}};
static const CLSID CLSID_TavolinDeviceEnum = {
    0x6f1d2a42, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb4, 0x12}};
/* Class identifier of the external audio engine component (voice). */
static const CLSID CLSID_TavolinAudioEngine = {
    0x6f1d2a43, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb4, 0x13}};

static const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_ITavolinEngine = {
    0x6f1d2b01, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x01}};
static const IID IID_ITavolinVideoDevice = {
    0x6f1d2b02, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x02}};
static const IID IID_ITavolinDeviceEnum = {
    0x6f1d2b03, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x03}};
static const IID IID_ITavolinLogSink = {
    0x6f1d2b04, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x04}};
static const IID IID_ITavolinAudioEngine = {
    0x6f1d2b05, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x05}};
static const IID IID_ITavolinEvents = {
    0x6f1d2b06, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x06}};
static const IID IID_ITavolinStatistics = {
    0x6f1d2b07, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x07}};
static const IID IID_ITavolinRelay = {
    0x6f1d2b08, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x08}};
static const IID IID_ITavolinRoomProtection = {
    0x6f1d2b09, 0x93b7, 0x4c0e, {0x8a, 0x52, 0x1e, 0x7c, 0x3d, 0x90, 0xb5, 0x09}};

static const IID IID_ITavolinUplink = {
    0x2c8e4f71, 0x5a3d, 0x4b96, {0x9e, 0x14, 0x7b, 0x60, 0xd2, 0x3a, 0xc8, 0x5f}};

/* ---- Events ---------------------------------------------------------------
 * What happens to the engine, for hosts (ITavolinEvents below). The GBK log
 * stays as it is beside them. */
enum TavolinEventKind {
    TAVOLIN_EVENT_CAMERA_STARTED = 1,         /* text: the camera's name */
    TAVOLIN_EVENT_CAMERA_FAILED = 2,          /* text: the camera's name, "" when there is none */
    TAVOLIN_EVENT_CAMERA_LOST = 3,            /* capturing, but no frame for 3 s; text: the name */
    TAVOLIN_EVENT_PUBLIC_ADDRESS = 4,         /* medium, address, port: learned from the server */
    TAVOLIN_EVENT_PUBLIC_ADDRESS_TIMEOUT = 5, /* medium: the server has not answered in 4 s; the
                                                 players are heard from now on without it (tell them
                                                 the local address and GetLocal*Port) */
    TAVOLIN_EVENT_PEER_GREETED = 6,           /* userId, medium: the peer answered "HI" with "REHI" */
    TAVOLIN_EVENT_PEER_LOCAL_ADDRESS = 7,     /* userId: media now goes to the peer's local pair */
    TAVOLIN_EVENT_MEDIA_STARTED = 8,          /* userId, medium: media from the peer arrives */
    TAVOLIN_EVENT_MEDIA_STOPPED = 9,          /* userId, medium: nothing from the peer for 2 s */
    /* Voice devices, through TavolinSetVoiceEventListener; port: the device
     * kind (TAVOLIN_VOICE_MICROPHONE or TAVOLIN_VOICE_SPEAKER). */
    TAVOLIN_EVENT_VOICE_DEVICE_GONE = 10,     /* text: the chosen device, gone: the system default serves */
    TAVOLIN_EVENT_VOICE_DEVICE_BACK = 11,     /* text: the chosen device, back and in use again */
    TAVOLIN_EVENT_VOICE_DEFAULT_CHANGED = 12, /* text: the new system default, in use (the host chose the default) */
    /* Relayed media (ITavolinRelay below). */
    TAVOLIN_EVENT_RELAY_ALLOCATED = 13,       /* medium, address, port: the relayed address, posted as the public one */
    TAVOLIN_EVENT_RELAY_FAILED = 14,          /* medium, address, port: the relay server; text: what failed */
    /* Encrypted rooms (ITavolinRoomProtection below). */
    TAVOLIN_EVENT_PEER_UNAUTHENTICATED = 15,  /* userId: the peer's last 50 datagrams did not open (wrong
                                                 secret or epoch: usually a lobby out of step); told
                                                 again only after one of its datagrams opened */
    /* The uplink's send budget (TavolinLocalStatistics below). */
    TAVOLIN_EVENT_VIDEO_HELD = 16,            /* userId (-1: every peer), port: why (TAVOLIN_VIDEO_HELD_*):
                                                 our video to the peer stops; its view keeps the last picture */
    TAVOLIN_EVENT_VIDEO_RESUMED = 17,         /* userId (-1: every peer): our video to the peer again */
    TAVOLIN_EVENT_VOICE_DOES_NOT_FIT = 18,    /* port: the budget, kbit/s: less than voice to every peer takes;
                                                 no video is sent; told again after it fitted */
    TAVOLIN_EVENT_VIDEO_REDUCED = 19          /* port: the ladder's step (videoLadderStep), 0 when back at full
                                                 quality and frame rate: the budget holds our video below
                                                 them; back once it kept them for 5 s */
};
#define TAVOLIN_VIDEO_HELD_UPLINK 1 /* the uplink carries no video beside the voice */
#define TAVOLIN_VIDEO_HELD_PEER 2   /* that peer alone loses or queues our media: its downlink */
#define TAVOLIN_MEDIUM_VOICE 0
#define TAVOLIN_MEDIUM_VIDEO 1

/* Fields an event kind does not use are -1, 0 or "". Addresses in host byte
 * order; text is UTF-8 and valid during the call only. */
typedef struct TavolinEvent {
    int kind;
    int userId;
    int medium;
    uint32_t address;
    int port;
    const char* text;
} TavolinEvent;

/* ---- Statistics -----------------------------------------------------------
 * Figures for hosts (ITavolinStatistics below). Set `size` to the struct's
 * size before the call; the engine fills what fits. Counts run from Create (a
 * peer's from its AddUser); rates are averages since the previous call that
 * was at least a second earlier (the first call reports 0). Loss, jitter and
 * round trip come from RTCP reports, which travel every few seconds; they are
 * -1 until the first report. */
typedef struct TavolinPeerStatistics {
    uint32_t size;
    int userId;
    /* The peer's video as this engine received and showed it. */
    uint64_t framesReceived;       /* complete frames joined from fragments */
    uint64_t framesShown;          /* handed to the view */
    uint64_t framesDropped;        /* received, not shown: late, undecodable or while frozen */
    uint64_t freezes;              /* times the picture stopped for a lost reference */
    double frozenSeconds;          /* in all, of the freezes that ended */
    double longestFreezeSeconds;
    double framesShownPerSecond;
    uint64_t videoPacketsReceived;
    uint64_t voicePacketsReceived;
    double videoKbitsPerSecondIn;  /* RTP payload and headers, both ways */
    double voiceKbitsPerSecondIn;
    double videoKbitsPerSecondOut; /* what this engine sends, to each peer alike */
    double voiceKbitsPerSecondOut;
    /* Reception of the peer's video by this engine (RFC 3550 6.4.1). */
    double fractionLost;           /* 0..1, since the previous report */
    int64_t cumulativeLost;
    double jitterMs;
    /* What the peer reported about this engine's video. */
    double remoteFractionLost;
    int64_t remoteCumulativeLost;
    double remoteJitterMs;
    double roundTripMs;            /* from the peer's report about our sender report */
    /* Feedback (RFC 4585) and retransmission of video. */
    uint64_t nacksSent;            /* feedback messages asking for lost packets */
    uint64_t nacksReceived;
    uint64_t pictureLossSent;      /* requests for a key frame */
    uint64_t pictureLossReceived;
    uint64_t packetsResent;        /* packets sent again because the peer asked */
    uint64_t resendsRefused;       /* asked for, but beyond the resend budget or history */
    uint64_t packetsRecovered;     /* asked for and then received */
    /* CPU time the video library spent decoding the peer's frames, on the engine thread. */
    double videoDecodingCpuSeconds;
    /* Encrypted rooms: the peer's datagrams, both media, that opened with its
     * keys, and those dropped unread because they did not. */
    uint64_t packetsAuthenticated;
    uint64_t authenticationFailures; /* wrong key, a changed bit, plain RTP, too short */
    uint64_t replaysDropped;         /* seen before, or older than the replay window */
    uint64_t unknownEpochDropped;    /* an epoch this engine has no key of (any more) */
    int encrypted;                   /* 1: the room is encrypted and the peer has keys */
    /* The uplink's send budget: whether our video goes to the peer, and why not. */
    int videoHeld;                   /* 0: sent; else TAVOLIN_VIDEO_HELD_* */
    double estimateKbitsPerSecond;   /* the peer's estimate of its path from us (our own peers), -1: none */
} TavolinPeerStatistics;

typedef struct TavolinLocalStatistics {
    uint32_t size;
    uint64_t framesCaptured;       /* taken from the camera on the engine thread */
    uint64_t framesCoded;
    uint64_t keyFrames;            /* all coded key frames, of which: */
    uint64_t keyFramesRegular;     /* forced because too many frames passed since the last */
    uint64_t keyFramesAsked;       /* forced because a peer asked (picture loss) */
    uint64_t keyFramesByCoder;     /* the first frame, or the coder's own choice */
    double framesCodedPerSecond;
    double videoKbitsPerSecondOut;
    double voiceKbitsPerSecondOut;
    uint32_t videoSsrc;            /* this engine's RTP sources, to find its streams in captures */
    uint32_t voiceSsrc;
    /* CPU time the video library spent coding this engine's frames, on the engine thread. */
    double videoCodingCpuSeconds;
    /* The uplink's send budget, voice first: one stream is what one peer gets (0 while the uplink
     * adaptation is off). */
    double uplinkBudgetKbitsPerSecond;   /* for every peer together, voice and video */
    double lossBasedKbitsPerSecond;      /* per stream, from the peers' RTCP reports */
    double delayBasedKbitsPerSecond;     /* per stream, from our own peers' estimates */
    double videoTargetKbitsPerSecond;    /* per stream, what the ladder's step is expected to carry */
    double videoFramesPerSecondTarget;   /* 15, 10, 7.5, 5, or 0: no video */
    int videoLadderStep;                 /* 0 (quantiser 5, 15 frames/s) .. 13 (no video) */
    int videoQuantiser;
    int voiceDoesNotFit;                 /* 1: voice to every peer takes more than the budget */
    int videoHeldPeers;                  /* peers whose video is held for their own downlink */
} TavolinLocalStatistics;

/* ---- Relayed media ----------------------------------------------------------
 * A relay server (TURN over UDP, or over TCP where UDP is blocked) that carries a session's media when no
 * direct path exists; its relayed address is then the public address the
 * engine reports, which the host hands to the lobby as before. Credentials
 * are those the lobby computes for the player; the engine never sees the
 * lobby's secret. */
#define TAVOLIN_RELAY_NEVER 0       /* the default */
#define TAVOLIN_RELAY_WHEN_NEEDED 1 /* a session relays when the relay server sees it at another port than the
                                       address server did, or when only the relay server answers */
#define TAVOLIN_RELAY_ALWAYS 2      /* every session relayed; players never see each other's addresses */
#define TAVOLIN_RELAY_UDP 0
#define TAVOLIN_RELAY_TCP 1         /* one connection per socket; "when needed" then means: when only it answers */

typedef struct TavolinRelayServer {
    uint32_t address;     /* host byte order */
    int port;
    int transport;        /* TAVOLIN_RELAY_UDP or TAVOLIN_RELAY_TCP */
    const char* username; /* copied; at most 512 bytes */
    const char* password;
} TavolinRelayServer;

/* One session's relay; counts run from Create. */
typedef struct TavolinRelayStatistics {
    uint32_t size;
    int relayed;               /* 1 while both sockets of the session are allocated */
    int failed;                /* 1 once the server failed the session */
    uint32_t serverAddress;    /* the server in use */
    int serverPort;
    uint32_t relayedAddress;
    int relayedPort;
    int64_t allocationMs;      /* from the first request until both sockets are allocated; -1: not yet */
    uint64_t refreshes;        /* answered, both sockets */
    uint64_t unauthorized;     /* 401 answers */
    uint64_t mismatches;       /* 437 answers */
    uint64_t staleNonces;      /* 438 answers */
    uint64_t failovers;        /* servers given up for the next one */
    uint64_t datagramsOut;     /* through the relay, and their payload bytes */
    uint64_t bytesOut;
    uint64_t datagramsIn;
    uint64_t bytesIn;
} TavolinRelayStatistics;

#ifdef __cplusplus
} /* extern "C" */

/* Identifiers are equal when their 16 bytes are. */
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

/* ---- Interfaces --------------------------------------------------------- */

struct ITavolinUnknown {
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

/* Implemented by the host: one per user, receives that user's pictures.
 * DrawFrame: `bytes` is always a 160 x 120 picture of 3 bytes per pixel
 * (57,600 bytes, blue-green-red, bottom row first) as `header` describes;
 * `length` is NOT its size but the count of coded bytes the decoder consumed
 * for it (kept for compatibility). The local preview comes the same way. */
struct ITavolinUserView : ITavolinUnknown {
    virtual int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int length) = 0;
    virtual int SetLevel(int level) = 0;
    virtual int Reserved() = 0; /* never called */
    virtual int OnVideoEnabled(int on) = 0;
    virtual int OnAudioEnabled(int on) = 0;
};

/* Implemented by the host; obtained from the event sink with IID_ITavolinLogSink.
 * Texts are GBK byte strings without line ends, given as printf formats. */
struct ITavolinLogSink {
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0; /* never called */
    virtual ULONG AddRef() = 0;                                     /* never called */
    virtual void Log(const char* format, ...) = 0;
};

/* Implemented by the host: the public address and ports of the local sessions. */
struct ITavolinEventSink : ITavolinUnknown {
    virtual int OnAudioAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) = 0;
    virtual int OnVideoAddress(uint32_t publicAddress, uint32_t localAddress, int publicPort, int localPort) = 0;
};

/* Implemented by the host: receives one camera name per call. */
struct ITavolinDeviceNameSink {
    virtual void OnDeviceName(const char* name) = 0;
};

/* One user record, handed out by ITavolinEngine::GetUser. Not reference-counted. */
struct ITavolinUser : ITavolinUnknown {
    virtual int SetValue(int value) = 0;
    virtual int GetValue() = 0;
    virtual int Reserved1(int, int) = 0;
    virtual int Reserved2(int, int) = 0;
    virtual int EnableVideo(int on) = 0;
    virtual int EnableAudio(int on) = 0;
    virtual int IsVideoEnabled() = 0;
    virtual int IsAudioEnabled() = 0;
};

struct ITavolinEngine : ITavolinUnknown {
    virtual int Create(HINSTANCE instance, uint32_t serverAddress, int serverPort, int localUserId,
                       int codecFlag, int receiveOnly) = 0;
    virtual int Destroy() = 0;
    virtual int AddUser(int userId, uint32_t publicAddress, uint32_t localAddress) = 0;
    virtual int SetUserAudioPort(int userId, int publicPort, int localPort) = 0;
    virtual int SetUserVideoPort(int userId, int publicPort, int localPort) = 0;
    virtual int SetUserView(int userId, ITavolinUserView* view) = 0;
    virtual int HasUser(int userId) = 0;
    virtual int RemoveUser(int userId) = 0;
    virtual int GetUser(int userId, ITavolinUser** out) = 0;
    /* The public address once the address server answered; 0xFFFFFFFF before
     * (also before Create). Only a host with an event sink gets it here, and
     * the public ports from GetLocal*Port: without one these keep 0xFFFFFFFF
     * and the local ports, and the answer comes as TAVOLIN_EVENT_PUBLIC_ADDRESS
     * (address and port per medium). User ids are the host's; -1 is never one. */
    virtual uint32_t GetLocalAddress() = 0;
    virtual uint16_t GetLocalAudioPort() = 0;
    virtual uint16_t GetLocalVideoPort() = 0;
    virtual int SetEventSink(ITavolinEventSink* host) = 0;
};

/* The engine's camera interface; shares the engine's reference count. */
struct ITavolinVideoDevice : ITavolinUnknown {
    virtual const char* GetDeviceName() = 0;
    virtual int SelectDevice(const char* name) = 0;
    virtual int EnumDevices(int kind, ITavolinDeviceNameSink* sink) = 0; /* kind 1: video */
    virtual int ShowPropertyPage(HWND parent, int dialog) = 0;
    virtual int HasPropertyPage(int dialog) = 0;
};

/* Stand-alone camera lister, CLSID_TavolinDeviceEnum. */
struct ITavolinDeviceEnum : ITavolinUnknown {
    virtual int GetDeviceCount() = 0;
    virtual int HasDevice() = 0;
    virtual int EnumDevices(int kind, ITavolinDeviceNameSink* sink) = 0;
};

/* Implemented by the host: receives the engine's events on the engine thread. */
struct ITavolinEventListener {
    virtual void OnEvent(const TavolinEvent* event) = 0;
};

/* The engine's events, reached with QueryInterface(IID_ITavolinEvents) on the
 * engine; shares the engine's reference count. Subscribe before Create to
 * hear everything; a listener may unsubscribe from inside OnEvent. */
struct ITavolinEvents : ITavolinUnknown {
    virtual int Subscribe(ITavolinEventListener* listener) = 0;   /* 1, or 0 for null or twice */
    virtual int Unsubscribe(ITavolinEventListener* listener) = 0; /* 1, or 0 when not subscribed */
};

/* The engine's figures, reached with QueryInterface(IID_ITavolinStatistics)
 * on the engine; shares the engine's reference count. Call on the engine
 * thread. 1 when filled; 0 for a null pointer, a size below 8 bytes, or a
 * user the engine does not have. */
struct ITavolinStatistics : ITavolinUnknown {
    virtual int GetLocalStatistics(TavolinLocalStatistics* out) = 0;
    virtual int GetPeerStatistics(int userId, TavolinPeerStatistics* out) = 0;
};

/* Relayed media, reached with QueryInterface(IID_ITavolinRelay) on the
 * engine; shares the engine's reference count. Set before Create (0 after
 * it): the sessions allocate as they open. */
struct ITavolinRelay : ITavolinUnknown {
    /* 1 when taken; 0 for a count below 0 or above 8, a null name or
     * password, or an unsupported transport. Count 0 clears the list. */
    virtual int SetRelayServers(const TavolinRelayServer* servers, int count) = 0;
    virtual int SetRelayPolicy(int policy) = 0; /* 1, or 0 for a policy not supported */
    /* medium: TAVOLIN_MEDIUM_VOICE or _VIDEO. 1 when filled; 0 for a null
     * pointer, a size below 8 bytes, or a session that is not relayed. */
    virtual int GetRelayStatistics(int medium, TavolinRelayStatistics* out) = 0;
};

/* The uplink's send budget, reached with QueryInterface(IID_ITavolinUplink)
 * on the engine; shares the engine's reference count; engine thread. With it
 * on, the engine spends one budget for its whole uplink on voice first: it
 * judges the budget from every peer's reports, paces its video to it, steps
 * the video down (quantiser, frame rate, none) and holds video to a peer
 * whose own downlink is in trouble (TAVOLIN_EVENT_VIDEO_REDUCED,
 * TAVOLIN_EVENT_VIDEO_HELD and the statistics tell). Off (the default), video goes at full rate as before. */
struct ITavolinUplink : ITavolinUnknown {
    virtual int SetUplinkAdaptation(int on) = 0; /* 1 */
    virtual int GetUplinkAdaptation() = 0;       /* 1 on, 0 off */
};

/* Encrypted rooms, reached with QueryInterface(IID_ITavolinRoomProtection)
 * on the engine; shares the engine's reference count. Every player of an
 * encrypted room sends only what the room's keys protect (SRTP, AES-128-GCM)
 * and hears only what opens with them: players of plain rooms and original
 * peers hear nothing of it, and it hears nothing of theirs. The lobby hands
 * every player the same room id and secret for each epoch, and a new epoch
 * whenever a player joins or leaves; an engine created again in the same
 * process (or a new process) needs a new epoch before it sends. */
#define TAVOLIN_ROOM_PLAIN 0     /* the default: the wire as ever */
#define TAVOLIN_ROOM_ENCRYPTED 1
struct ITavolinRoomProtection : ITavolinUnknown {
    /* Before Create (0 after it, or for another mode). Create fails in an
     * encrypted room until SetRoomKeys took keys. */
    virtual int SetRoomMode(int mode) = 0;
    /* The keys of one epoch: a secret of at least 16 random bytes, a room id
     * of at most 255 bytes, and an epoch above the last one set. Before
     * Create, and after it for each new epoch: the engine sends with the new
     * keys at once and hears the old ones for 5 s more. 1 when taken. */
    virtual int SetRoomKeys(const uint8_t* roomId, int roomIdLength, uint32_t epoch, const uint8_t* secret,
                            int secretLength) = 0;
    virtual int GetRoomMode() = 0;
};

/* Implemented by the engine: the audio component hands it 50-byte voice
 * frames, from any thread between its Init and Destroy (the library's own
 * component calls it from the microphone's thread, so that a frame does not
 * wait for a busy engine thread). */
struct ITavolinAudioSink {
    virtual void OnEncodedAudio(const uint8_t* data, int length) = 0;
};

/* Implemented by a voice component that the host registers under
 * CLSID_TavolinAudioEngine (see TavolinRegisterComponent). */
struct ITavolinAudioEngine : ITavolinUnknown {
    virtual int Init(HWND window, HWND window2, ITavolinAudioSink* sink) = 0;
    virtual int PlayAudio(int userId, const uint8_t* data, int length) = 0;
    virtual int RemoveUser(int userId) = 0;
    virtual int SetEngine(ITavolinEngine* engine) = 0;
    virtual int Destroy() = 0;
    virtual int StartSend() = 0;
    virtual int StopSend() = 0;
    virtual int Reserved() = 0; /* never called */
    virtual int GetLevel(int userId, int scale) = 0;
};

extern "C" {
#else
/* The interfaces are C++ only; C sees their names, to pass pointers on. */
struct ITavolinEngine;
struct ITavolinLogSink;
struct ITavolinDeviceNameSink;
struct ITavolinEventListener;
#endif /* __cplusplus */

/* ---- Exported functions ------------------------------------------------- */

/* Creates a new engine or device enumerator and returns the asked interface. */
HRESULT DllGetClassObjectEx(const CLSID* classId, const IID* interfaceId, void** out);

/* The engine does all its work on the thread that called Create; that thread
 * must pump its messages with one of these. Each acts on the calling thread. */

/* Waits up to timeoutMs for messages or due timers, then dispatches all that
 * are due. Returns the number dispatched. */
int TavolinPumpMessages(uint32_t timeoutMs);
/* Dispatches what is due now without waiting. Returns the number dispatched. */
int TavolinDispatchMessages(void);
/* A descriptor that is readable whenever messages or timers of the calling
 * thread are due; for hosts with their own poll or GLib loop. Owned by the
 * library; valid for the life of the thread. -1 on failure. */
int TavolinMessageFd(void);

/* The counterpart of COM class registration for the voice component: the
 * engine creates an instance through `factory` when a component is registered
 * under CLSID_TavolinAudioEngine. A null factory removes the registration. */
typedef HRESULT (*TavolinComponentFactory)(const IID* interfaceId, void** out);
HRESULT TavolinRegisterComponent(const CLSID* classId, TavolinComponentFactory factory);

/* Synthetic cameras for machines without one. None exist by default.
 * pattern: 0..24, a moving test picture; width x height at fps frames per
 * second. With TAVOLIN_CAMERA_STAMP_FRAME_NUMBER in flags the top eighth of
 * every picture shows the frame number (counted from 0 when the camera
 * starts), low 16 bits, as 16 equal-width blocks from left to right, most
 * significant bit first, white for 1 and black for 0: a form that survives
 * scaling and coding, so a viewer can tell which source frame it shows.
 * Returns 1 when added, 0 when the name exists or arguments are bad. */
#define TAVOLIN_CAMERA_STAMP_FRAME_NUMBER 1
int TavolinAddSyntheticCamera(const char* name, int pattern, int width, int height, int fps, int flags);
/* Removes every synthetic camera added so far. */
void TavolinRemoveSyntheticCameras(void);

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* TavolinVersion(void);

/* ---- Voice ----------------------------------------------------------------
 * The library registers its own voice component under CLSID_TavolinAudioEngine;
 * TavolinRegisterComponent(&CLSID_TavolinAudioEngine, NULL) removes it before
 * Create (the engine then runs without voice) and a host factory replaces it.
 * Sound is 16 kHz mono, 16-bit. The functions below that take an engine act
 * on the voice component of that engine, after its Create; they return 0 when
 * it has none. */

#define TAVOLIN_VOICE_MICROPHONE 1
#define TAVOLIN_VOICE_SPEAKER 2

/* Names of the microphones (kind 1) or speakers (kind 2), one per call:
 * sound devices first, then synthetic ones. Returns the count. */
int TavolinEnumVoiceDevices(int kind, struct ITavolinDeviceNameSink* sink);
/* Picks the engine's microphone or speaker by name; NULL or "" is the system
 * default. Takes effect at once (the device is reopened). 1 when the engine
 * has a voice component. */
int TavolinSelectVoiceDevice(struct ITavolinEngine* engine, int kind, const char* name);
/* Where the engine's voice component logs what happens to its devices
 * (texts logged on the engine thread). NULL stops its logging. */
int TavolinSetVoiceLogSink(struct ITavolinEngine* engine, struct ITavolinLogSink* sink);
/* Who hears the voice device events (TAVOLIN_EVENT_VOICE_*), on the engine
 * thread; the listener may call into the engine. NULL stops them. */
int TavolinSetVoiceEventListener(struct ITavolinEngine* engine, struct ITavolinEventListener* listener);

/* Counters of the engine's voice component. For a remote user id: that
 * user's frames. For -1: the local side (framesSent) and frames dropped
 * before reaching any user (wrong length, unknown user). */
typedef struct TavolinVoiceStats {
    uint64_t framesReceived;   /* accepted into the jitter buffer */
    uint64_t framesLate;       /* came after their playout time */
    uint64_t framesDuplicate;  /* copies of frames already held */
    uint64_t framesInvalid;    /* 50 bytes that were no voice frame */
    uint64_t framesPlayed;     /* decoded as received */
    uint64_t framesLost;       /* never came in time */
    uint64_t framesConcealed;  /* 30 ms made up by loss concealment */
    uint64_t framesSkipped;    /* dropped to shorten the delay */
    int32_t jitterDelayMs;     /* current target delay of the jitter buffer */
    uint64_t framesSent;       /* -1 only: frames handed to the engine */
    uint64_t droppedWrongLength; /* -1 only */
    uint64_t droppedUnknownUser; /* -1 only */
} TavolinVoiceStats;
int TavolinGetVoiceStats(struct ITavolinEngine* engine, int userId, TavolinVoiceStats* out);

/* What goes out of the engine's microphone while the local voice is on
 * (EnableAudio(1)): every frame (the default), only while the player speaks
 * (from 60 ms before the first syllable to 0.5 s after the last, so that
 * the pauses between words are bridged), or only while the host says the
 * push-to-talk key is down (and 240 ms after it comes up). Whatever is held
 * back is not sent at all. 0 for an unknown mode. */
#define TAVOLIN_VOICE_TRANSMIT_ALWAYS 0
#define TAVOLIN_VOICE_TRANSMIT_VOICE_ACTIVITY 1
#define TAVOLIN_VOICE_TRANSMIT_PUSH_TO_TALK 2
int TavolinSetVoiceTransmitMode(struct ITavolinEngine* engine, int mode);
/* The push-to-talk key: talking != 0 while it is down. Voice goes out from
 * the next 30 ms frame on. Any thread. */
int TavolinSetVoiceTalking(struct ITavolinEngine* engine, int talking);
/* muted != 0: nothing of the microphone goes out, in any mode, while the
 * local voice stays on and the microphone open. Any thread. */
int TavolinMuteVoiceMicrophone(struct ITavolinEngine* engine, int muted);
/* The listener's choices for one remote player, kept by user id while the
 * engine lives (they may be made before the player is heard, and outlast a
 * RemoveUser): the volume in percent, 0..200 (100 by default; values outside
 * are clamped), and mute (muted != 0: none of that player's voice is
 * decoded or heard). Any thread. */
int TavolinSetVoiceUserVolume(struct ITavolinEngine* engine, int userId, int percent);
int TavolinMuteVoiceUser(struct ITavolinEngine* engine, int userId, int muted);
/* Levelling, on by default: each remote voice is brought towards one speech
 * level on its way into the mix, a loud one cut at once, a quiet one raised
 * slowly and by at most 12 dB; the listener's volume applies on top. on == 0
 * mixes every voice at the level it came. Any thread. */
int TavolinSetVoiceLevelling(struct ITavolinEngine* engine, int on);

/* The component's figures for the controls above. Set `size` to the
 * struct's size first; the component fills what fits. For -1: the local
 * microphone (every frame coded while the local voice is on ends as sent,
 * suppressed or muted). For a remote user id: what the listener heard of
 * that player, 1 when the user is heard or has choices made. */
typedef struct TavolinVoiceControlStats {
    uint32_t size;
    uint64_t framesSent;         /* -1: handed to the engine (as TavolinVoiceStats counts them) */
    uint64_t framesSuppressed;   /* -1: held back by the transmit mode (no speech, key up) */
    uint64_t framesMuted;        /* -1: held back by TavolinMuteVoiceMicrophone */
    int32_t transmitMode;        /* -1: TAVOLIN_VOICE_TRANSMIT_* */
    int32_t microphoneMuted;     /* -1: 1 while muted */
    uint64_t framesHeard;        /* remote: 30 ms decoded into the mix (voice and concealment) */
    uint64_t framesNotDecoded;   /* remote: frames passed over while the player was muted */
    int32_t volumePercent;       /* remote: the listener's choice */
    int32_t userMuted;           /* remote: 1 while muted */
    double levellingGainDb;      /* remote: levelling's gain on the latest frame heard, 0 when off */
} TavolinVoiceControlStats;
int TavolinGetVoiceControlStats(struct ITavolinEngine* engine, int userId, TavolinVoiceControlStats* out);

/* Synthetic microphones and speakers for machines without sound hardware.
 * None exist by default; names are shared by both kinds and unique.
 *
 * Microphone signal TAVOLIN_MIC_TONE: a steady sine of frequencyHz at
 * -24 dBFS. TAVOLIN_MIC_SPEECH: a voiced sound (fundamental frequencyHz with
 * two harmonics, same peak) in bursts of 120..400 ms with pauses of
 * 80..600 ms. TAVOLIN_MIC_CONVERSATION: the tone alone in the bursts and
 * pauses of that speech, in turns of 0.8..2.4 s (ending with a burst), each
 * followed by 2..6 s of silence, as a player talks now and then; it starts
 * within 6 s of silence. Without harmonics, which would fall on other
 * players' tones, a listener can tell each player apart. markerOffsetMs 0..999 adds a marker: once a second, for the
 * 10 ms starting when CLOCK_MONOTONIC modulo one second reaches that many
 * milliseconds, the signal is 12 dB louder; -1 for none. */
#define TAVOLIN_MIC_TONE 0
#define TAVOLIN_MIC_SPEECH 1
#define TAVOLIN_MIC_CONVERSATION 2
/* The device fails whenever it is started, as broken hardware does. */
#define TAVOLIN_SYNTHETIC_FAILS_TO_START 1
int TavolinAddSyntheticMicrophone(const char* name, int signal, int frequencyHz, int markerOffsetMs, int flags);
/* A speaker hands what the engine's voice plays (the mix of all remote users,
 * 30 ms per call, silence included) to callback on the voice playout thread,
 * with CLOCK_MONOTONIC in microseconds at its first sample, and/or appends it
 * to a 16 kHz mono WAV file at wavPath (rewritten when the speaker opens).
 * Either may be NULL. Returns 1 when added, 0 when the name exists or
 * arguments are bad. */
typedef void (*TavolinSpeakerCallback)(void* context, const int16_t* samples, int count, int64_t monotonicMicros);
int TavolinAddSyntheticSpeaker(const char* name, TavolinSpeakerCallback callback, void* context, const char* wavPath,
                               int flags);
/* Removes one synthetic device; an engine using it sees the device vanish.
 * Once the removal returns, a removed speaker's callback is neither running
 * nor called again (a call in progress is waited for, so a callback must not
 * wait for the thread that removes its speaker; it may remove it itself). */
int TavolinRemoveSyntheticAudioDevice(const char* name);
void TavolinRemoveSyntheticAudioDevices(void);

/* ---- Hop trace ------------------------------------------------------------
 * Where a video frame's time goes between camera and remote view, for
 * diagnosis (tavolin-room --trace). While tracing, every engine of the
 * process records each hop a frame passes, keyed by the receiving engine, the
 * sender's video source and the frame's RTP timestamp. Off, it costs one
 * atomic load per hop. */
enum TavolinHop {
    kTavolinHopCaptured = 0, /* capture thread: the frame is stored in the ring */
    kTavolinHopTaken,        /* engine thread: taken out of the ring */
    kTavolinHopCoded,        /* the encoder handed on its bits */
    kTavolinHopSent,         /* a fragment is handed to the socket (per fragment) */
    kTavolinHopReceived,     /* poll thread: a fragment came from the socket (per fragment) */
    kTavolinHopQueued,       /* poll thread: handed to the receive queue (per fragment) */
    kTavolinHopDrained,      /* engine thread: taken from the queue (per fragment) */
    kTavolinHopAssembled,    /* the frame's fragments joined, at the decoder's entry */
    kTavolinHopDecoded,      /* the decoder has a picture for the host */
    kTavolinHopDrawn,        /* the host's DrawFrame returned */
    kTavolinHopCount
};

/* Sending hops carry no receiver (0); fragment hops come once per fragment. */
typedef struct TavolinHopRecord {
    int64_t nanoseconds; /* CLOCK_MONOTONIC */
    uint32_t receiver;   /* the receiving engine's local video port; 0 on the sending side */
    uint32_t sender;     /* the sender's video SSRC */
    uint32_t timestamp;  /* the frame's RTP timestamp */
    uint32_t hop;        /* a TavolinHop */
} TavolinHopRecord;

/* on != 0 empties the record and starts tracing; 0 stops it. Returns the
 * number of records that did not fit since tracing last started. */
uint64_t TavolinSetHopTrace(int on);
/* Moves up to capacity records, oldest first, into records; returns how many
 * (0 for a null records, which takes nothing). */
size_t TavolinTakeHopTrace(TavolinHopRecord* records, size_t capacity);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TAVOLIN_TAVOLIN_H */
