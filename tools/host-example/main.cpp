// The smallest complete host of the engine: it knows only the public header
// and loads the library as a game client would. It runs two engines, one per
// thread as two game clients would, each with a synthetic camera, introduces
// them to each other, and counts the pictures each one's views receive: its
// own preview and the other engine's video. See --help.
#include "testbed/address_server/address_server_process.h"
#include "tools/common/command_line.h"
#include "tools/common/companions.h"
#include "tools/host_text/gbk_text.h"

#include <tavolin/tavolin.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1 in host byte order
constexpr int kEngines = 2;
constexpr int kPumpSliceMs = 20;

constexpr const char* kProgram = "tavolin-host-example";
constexpr const char* kHelp =
    "usage: tavolin-host-example [--seconds S] [--library PATH] [--addrd PATH]\n"
    "\n"
    "A complete minimal host: starts tavolin-addrd on loopback, loads the engine\n"
    "library, runs two engines (users 1 and 2) on two threads with a synthetic\n"
    "camera each for S seconds (default 5), and prints how many pictures each\n"
    "engine showed of its own camera and of the other engine's. Exits 0 when\n"
    "both counts of both engines are above zero.\n"
    "\n"
    "  --library PATH   the engine library (default: the installed one)\n"
    "  --addrd PATH     the address server (default: the one beside this tool)\n";

struct Library {
    decltype(&DllGetClassObjectEx) getClassObject = nullptr;
    decltype(&TavolinPumpMessages) pump = nullptr;
    decltype(&TavolinAddSyntheticCamera) addSyntheticCamera = nullptr;
    void* handle = nullptr;
};

// A view that counts the pictures it is given. Called on the engine thread.
class CountingView : public ITavolinUserView {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int DrawFrame(const BITMAPINFOHEADER* header, const uint8_t* bytes, int) override {
        // Always 160 x 120 x 3 bytes, bottom row first; the last argument is not the size.
        if (bytes && header->biWidth == 160 && std::abs(header->biHeight) == 120 && header->biBitCount == 24)
            pictures.fetch_add(1);
        return 1;
    }
    int SetLevel(int) override { return 1; }
    int Reserved() override { return 0; }
    int OnVideoEnabled(int) override { return 1; }
    int OnAudioEnabled(int) override { return 1; }

    std::atomic<int> pictures{0};
};

class PrintingLog : public ITavolinLogSink {
public:
    explicit PrintingLog(int userId) : userId_(userId) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    void Log(const char* format, ...) override {
        char text[1024];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::printf("engine %d log: %s\n", userId_, GbkToUtf8(text).c_str());
    }

private:
    int userId_;
};

// Where an engine's sessions can be reached, as its event sink hears it.
struct Ports {
    int audio = 0;
    int video = 0;
};

// Two players' lobby: each engine thread publishes its ports and reads the other's.
class Meeting {
public:
    void Publish(int userId, Ports ports) {
        std::lock_guard lock(mutex_);
        ports_[userId - 1] = ports;
    }
    Ports Of(int userId) {
        std::lock_guard lock(mutex_);
        return ports_[userId - 1];
    }

private:
    std::mutex mutex_;
    Ports ports_[kEngines];
};

// One game client: the event sink of its engine and the views of its users.
class Host : public ITavolinEventSink {
public:
    Host(int userId, const Library& library, Meeting& meeting)
        : userId_(userId), library_(library), meeting_(meeting) {}

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (!IsEqualGUID(iid, IID_ITavolinLogSink)) return E_NOINTERFACE;
        *out = static_cast<ITavolinLogSink*>(&log_);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    // The public ports of the local sessions, once the address server answered.
    int OnAudioAddress(uint32_t, uint32_t, int publicPort, int) override {
        own_.audio = publicPort;
        return 1;
    }
    int OnVideoAddress(uint32_t, uint32_t, int publicPort, int) override {
        own_.video = publicPort;
        return 1;
    }

    // The whole life of one engine, on the calling thread.
    void Run(uint16_t serverPort, const char* camera, std::chrono::steady_clock::time_point end) {
        ITavolinEngine* engine = nullptr;
        if (library_.getClassObject(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)) !=
            S_OK)
            return;
        engine->SetEventSink(this);
        if (engine->Create(static_cast<HINSTANCE>(library_.handle), kLoopback, serverPort, userId_, 0,
                           /*receiveOnly=*/0) == 1) {
            ShowOwnVideo(*engine, camera);
            bool peerAdded = false;
            while (std::chrono::steady_clock::now() < end) {
                library_.pump(kPumpSliceMs);
                if (own_.audio && own_.video) meeting_.Publish(userId_, own_);
                if (!peerAdded) peerAdded = AddPeerWhenKnown(*engine);
            }
        }
        engine->Destroy();
        engine->Release();
    }

    void PrintCounts() const {
        std::printf("engine %d: %d pictures of its own camera, %d from engine %d\n", userId_, preview_.pictures.load(),
                    remote_.pictures.load(), PeerId());
    }
    bool SawBoth() const { return preview_.pictures > 0 && remote_.pictures > 0; }

private:
    int PeerId() const { return kEngines + 1 - userId_; }

    // Preview view, camera, then the local user's video switch: without it
    // the engine neither previews nor sends.
    void ShowOwnVideo(ITavolinEngine& engine, const char* camera) {
        engine.SetUserView(userId_, &preview_);
        ITavolinVideoDevice* device = nullptr;
        if (SUCCEEDED(engine.QueryInterface(IID_ITavolinVideoDevice, reinterpret_cast<void**>(&device))) && device) {
            if (!device->SelectDevice(camera)) std::printf("engine %d: no camera named %s\n", userId_, camera);
            device->Release();
        }
        ITavolinUser* local = nullptr;
        if (engine.GetUser(userId_, &local) == 1 && local) local->EnableVideo(1);
    }

    // What a lobby would do: once the peer's ports are known, add it with a
    // view and switch its video on.
    bool AddPeerWhenKnown(ITavolinEngine& engine) {
        const Ports peer = meeting_.Of(PeerId());
        if (!peer.audio || !peer.video) return false;
        engine.AddUser(PeerId(), kLoopback, kLoopback);
        engine.SetUserAudioPort(PeerId(), peer.audio, peer.audio);
        engine.SetUserVideoPort(PeerId(), peer.video, peer.video);
        engine.SetUserView(PeerId(), &remote_);
        ITavolinUser* user = nullptr;
        if (engine.GetUser(PeerId(), &user) == 1 && user) user->EnableVideo(1);
        return true;
    }

    const int userId_;
    const Library& library_;
    Meeting& meeting_;
    PrintingLog log_{userId_};
    Ports own_;  // written and read on the engine thread only
    CountingView preview_;
    CountingView remote_;
};

bool LoadLibrary(const std::string& path, Library* library) {
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library->handle) {
        std::fprintf(stderr, "%s: cannot load %s: %s\n", kProgram, path.c_str(), dlerror());
        return false;
    }
    library->getClassObject =
        reinterpret_cast<decltype(library->getClassObject)>(dlsym(library->handle, "DllGetClassObjectEx"));
    library->pump = reinterpret_cast<decltype(library->pump)>(dlsym(library->handle, "TavolinPumpMessages"));
    library->addSyntheticCamera =
        reinterpret_cast<decltype(library->addSyntheticCamera)>(dlsym(library->handle, "TavolinAddSyntheticCamera"));
    if (library->getClassObject && library->pump && library->addSyntheticCamera) return true;
    std::fprintf(stderr, "%s: %s lacks the engine's functions\n", kProgram, path.c_str());
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    std::string libraryPath = tools::DefaultLibraryPath();
    std::string addrdPath = tools::DefaultAddrdPath();
    const tools::ToolCommandLine commandLine{kProgram,
                                             kHelp,
                                             {{"seconds", "S",
                                               [&](const char* value) {
                                                   char* end = nullptr;
                                                   seconds = std::strtod(value, &end);
                                                   return *end == '\0' && std::isfinite(seconds) && seconds > 0 &&
                                                                  seconds <= 3600
                                                              ? std::string()
                                                              : "not a number of seconds (up to 3600)";
                                               }},
                                              {"library", "PATH",
                                               [&](const char* value) {
                                                   libraryPath = value;
                                                   return std::string();
                                               }},
                                              {"addrd", "PATH", [&](const char* value) {
                                                   addrdPath = value;
                                                   return std::string();
                                               }}}};
    if (const auto status = tools::ReadCommandLine(commandLine, argc, argv)) return *status;

    std::string error;
    const auto server = room::AddressServerProcess::Start(addrdPath, &error);
    if (!server) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 1;
    }
    Library library;
    if (!LoadLibrary(libraryPath, &library)) return 1;
    const auto version = reinterpret_cast<decltype(&TavolinVersion)>(dlsym(library.handle, "TavolinVersion"));
    std::printf("library %s, version %s\n", libraryPath.c_str(), version ? version() : "before 1.0.0");
    const char* cameras[kEngines] = {"Example camera 1", "Example camera 2"};
    for (int i = 0; i < kEngines; ++i) library.addSyntheticCamera(cameras[i], i + 1, 320, 240, 30, 0);

    Meeting meeting;
    Host hosts[kEngines] = {{1, library, meeting}, {2, library, meeting}};
    const auto end =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    std::thread threads[kEngines];
    for (int i = 0; i < kEngines; ++i)
        threads[i] = std::thread([&, i] { hosts[i].Run(server->Port(), cameras[i], end); });
    bool sawAll = true;
    for (int i = 0; i < kEngines; ++i) {
        threads[i].join();
        hosts[i].PrintCounts();
        sawAll = sawAll && hosts[i].SawBoth();
    }
    dlclose(library.handle);
    return sawAll ? 0 : 1;
}
