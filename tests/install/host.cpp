// A host built against an installed Tavolin: it links the library, asks its
// version and runs one receive-only engine for a moment.
#include <tavolin/tavolin.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const char* version = TavolinVersion();
    std::printf("version %s\n", version);
    if (std::strcmp(version, argv[1]) != 0) return 1;
    ITavolinEngine* engine = nullptr;
    if (DllGetClassObjectEx(&CLSID_TavolinEngine, &IID_ITavolinEngine, reinterpret_cast<void**>(&engine)) != S_OK)
        return 1;
    static int module;
    // Port 9 of loopback: nobody answers, nothing leaves the machine.
    const int created = engine->Create(reinterpret_cast<HINSTANCE>(&module), 0x7F000001, 9, 1, 0, 1);
    for (int i = 0; i < 3; ++i) TavolinPumpMessages(20);
    const int destroyed = engine->Destroy();
    const ULONG left = engine->Release();
    std::printf("Create %d, Destroy %d, references left %u\n", created, destroyed, left);
    return created == 1 && destroyed == 1 && left == 0 ? 0 : 1;
}
