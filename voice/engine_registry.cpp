#include "voice/engine_registry.h"

#include <mutex>
#include <vector>

namespace voice {

namespace {
struct Entry {
    ITavolinEngine* engine;
    CVoiceEngine* component;
};
std::mutex g_lock;
std::vector<Entry> g_entries;
}  // namespace

void RegisterEngine(ITavolinEngine* engine, CVoiceEngine* component) {
    std::lock_guard lock(g_lock);
    for (Entry& entry : g_entries) {
        if (entry.engine != engine) continue;
        entry.component = component;
        return;
    }
    g_entries.push_back({engine, component});
}

void UnregisterComponent(CVoiceEngine* component) {
    std::lock_guard lock(g_lock);
    std::erase_if(g_entries, [component](const Entry& entry) { return entry.component == component; });
}

bool WithComponent(ITavolinEngine* engine, const std::function<void(CVoiceEngine&)>& use) {
    std::lock_guard lock(g_lock);
    for (const Entry& entry : g_entries) {
        if (entry.engine != engine) continue;
        use(*entry.component);
        return true;
    }
    return false;
}

}  // namespace voice
