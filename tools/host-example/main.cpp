// The smallest host of the engine: it knows only the public header, loads the
// library as a game client would, runs one engine on this thread for a few
// seconds and prints every log text in UTF-8.
//
//   tavolin-host-example [--seconds S] [--server ADDR:PORT] [--library PATH]
#include "tools/common/gbk_text.h"

#include <tavolin/tavolin.h>

#include <arpa/inet.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string DottedAddress(uint32_t address) {
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &value, text, sizeof text) ? text : "?";
}

class PrintingLog : public ITavolinLogSink {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    void Log(const char* format, ...) override {
        char text[1024];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::printf("log: %s\n", GbkToUtf8(text).c_str());
    }
};

class Host : public ITavolinEventSink {
public:
    PrintingLog log;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (std::memcmp(&iid, &IID_ITavolinLogSink, sizeof iid) != 0) return E_NOINTERFACE;
        *out = static_cast<ITavolinLogSink*>(&log);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    int OnAudioAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) override {
        std::printf("voice session seen from outside as %s:%d (local port %d)\n", DottedAddress(publicAddress).c_str(),
                    publicPort, localPort);
        return 1;
    }
    int OnVideoAddress(uint32_t publicAddress, uint32_t, int publicPort, int localPort) override {
        std::printf("video session seen from outside as %s:%d (local port %d)\n", DottedAddress(publicAddress).c_str(),
                    publicPort, localPort);
        return 1;
    }
};

struct Options {
    int seconds = 3;
    std::string server = "127.0.0.1:3478";
    std::string library = TAVOLIN_DEFAULT_LIBRARY;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--seconds")
            options.seconds = std::atoi(argv[i + 1]);
        else if (name == "--server")
            options.server = argv[i + 1];
        else if (name == "--library")
            options.library = argv[i + 1];
        else
            return false;
    }
    return argc % 2 == 1 && options.seconds > 0;
}

bool ParseServer(const std::string& text, uint32_t& address, int& port) {
    const size_t colon = text.rfind(':');
    in_addr parsed{};
    if (colon == std::string::npos || inet_pton(AF_INET, text.substr(0, colon).c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    port = std::atoi(text.c_str() + colon + 1);
    return port > 0 && port < 65536;
}
}  // namespace

int main(int argc, char** argv) {
    Options options;
    uint32_t serverAddress = 0;
    int serverPort = 0;
    if (!ParseOptions(argc, argv, options) || !ParseServer(options.server, serverAddress, serverPort)) {
        std::fprintf(stderr, "usage: %s [--seconds S] [--server ADDR:PORT] [--library PATH]\n", argv[0]);
        return 2;
    }
    void* library = dlopen(options.library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", options.library.c_str(), dlerror());
        return 1;
    }
    auto getClassObject = reinterpret_cast<decltype(&DllGetClassObjectEx)>(dlsym(library, "DllGetClassObjectEx"));
    auto pump = reinterpret_cast<decltype(&TavolinPumpMessages)>(dlsym(library, "TavolinPumpMessages"));
    ITavolinEngine* engine = nullptr;
    if (!getClassObject || !pump ||
        getClassObject(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)) != S_OK) {
        std::fprintf(stderr, "the library hands out no engine\n");
        return 1;
    }

    Host host;
    engine->SetEventSink(&host);
    constexpr int kLocalUserId = 1;
    const int created = engine->Create(reinterpret_cast<HINSTANCE>(library), serverAddress, serverPort, kLocalUserId,
                                       0, /*receiveOnly=*/0);
    std::printf("Create: %d; local ports: voice %u, video %u\n", created, engine->GetLocalAudioPort(),
                engine->GetLocalVideoPort());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
    while (std::chrono::steady_clock::now() < end) pump(100);
    std::printf("Destroy: %d\n", engine->Destroy());
    engine->Release();
    dlclose(library);
    return created == 1 ? 0 : 1;
}
