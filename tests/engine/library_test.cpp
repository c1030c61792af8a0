// The shared library as a host sees it: only the intended exports, and an
// engine run through dlopen/dlsym with nothing but the public header.
#include <tavolin/tavolin.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {
std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    std::set<std::string> symbols;
    FILE* nm = popen(("nm -D --defined-only " + library).c_str(), "r");
    if (!nm) return symbols;
    char line[512];
    while (fgets(line, sizeof line, nm)) {
        char address[64], type[8], name[400];
        if (sscanf(line, "%63s %7s %399s", address, type, name) == 3) symbols.insert(name);
    }
    pclose(nm);
    return symbols;
}

TEST(Library, ExportsOnlyTheEntryAndHostFunctions) {
    const std::set<std::string> expected{"DllGetClassObjectEx",
                                         "TavolinPumpMessages",
                                         "TavolinDispatchMessages",
                                         "TavolinMessageFd",
                                         "TavolinRegisterComponent",
                                         "TavolinAddSyntheticCamera",
                                         "TavolinRemoveSyntheticCameras",
                                         "TavolinVersion",
                                         "TavolinEnumVoiceDevices",
                                         "TavolinSelectVoiceDevice",
                                         "TavolinSetVoiceLogSink",
                                         "TavolinGetVoiceStats",
                                         "TavolinSetVoiceEventListener",
                                         "TavolinSetVoiceTransmitMode",
                                         "TavolinSetVoiceTalking",
                                         "TavolinMuteVoiceMicrophone",
                                         "TavolinSetVoiceUserVolume",
                                         "TavolinMuteVoiceUser",
                                         "TavolinSetVoiceLevelling",
                                         "TavolinGetVoiceControlStats",
                                         "TavolinAddSyntheticMicrophone",
                                         "TavolinAddSyntheticSpeaker",
                                         "TavolinRemoveSyntheticAudioDevice",
                                         "TavolinRemoveSyntheticAudioDevices",
                                         "TavolinSetHopTrace",
                                         "TavolinTakeHopTrace"};
    EXPECT_EQ(expected, DefinedDynamicSymbols(TAVOLIN_LIBRARY_PATH));
}

struct Api {
    void* handle = nullptr;
    decltype(&DllGetClassObjectEx) getClassObject = nullptr;
    decltype(&TavolinPumpMessages) pump = nullptr;
};

Api Load() {
    Api api;
    api.handle = dlopen(TAVOLIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!api.handle) return api;
    api.getClassObject = reinterpret_cast<decltype(api.getClassObject)>(dlsym(api.handle, "DllGetClassObjectEx"));
    api.pump = reinterpret_cast<decltype(api.pump)>(dlsym(api.handle, "TavolinPumpMessages"));
    return api;
}

// Runs one receive-only engine on the calling thread for a few pumps.
bool RunEngine(const Api& api, int localId) {
    ITavolinEngine* engine = nullptr;
    if (api.getClassObject(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)) != S_OK)
        return false;
    static int module;
    // Port 9 of loopback: nobody answers, nothing leaves the machine.
    const bool created = engine->Create(reinterpret_cast<HINSTANCE>(&module), 0x7F000001, 9, localId, 0, 1) == 1;
    for (int i = 0; i < 5; ++i) api.pump(20);
    const bool destroyed = engine->Destroy() == 1;
    return engine->Release() == 0 && created && destroyed;
}

TEST(Library, TellsItsVersionAsInItsFileName) {
    void* handle = dlopen(TAVOLIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    const auto version = reinterpret_cast<decltype(&TavolinVersion)>(dlsym(handle, "TavolinVersion"));
    ASSERT_NE(nullptr, version);
    // libtavolin.so.MAJOR.MINOR.PATCH: the text is the file name's end.
    const std::string path = TAVOLIN_LIBRARY_PATH;
    EXPECT_EQ(path.substr(path.find(".so.") + 4), version());
    dlclose(handle);
}

TEST(Library, RunsEnginesThroughDlopenOnTwoThreads) {
    const Api api = Load();
    ASSERT_NE(nullptr, api.handle) << dlerror();
    ASSERT_NE(nullptr, api.getClassObject);
    ASSERT_NE(nullptr, api.pump);
    bool results[2] = {false, false};
    std::thread first([&] { results[0] = RunEngine(api, 1); });
    std::thread second([&] { results[1] = RunEngine(api, 2); });
    first.join();
    second.join();
    EXPECT_TRUE(results[0]);
    EXPECT_TRUE(results[1]);
    dlclose(api.handle);
}
}  // namespace
