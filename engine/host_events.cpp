#include "engine/host_events.h"

#include <algorithm>

int HostEvents::Subscribe(ITavolinEventListener* listener) {
    if (!listener || std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) return 0;
    listeners_.push_back(listener);
    return 1;
}

int HostEvents::Unsubscribe(ITavolinEventListener* listener) {
    const auto found = std::find(listeners_.begin(), listeners_.end(), listener);
    if (found == listeners_.end()) return 0;
    listeners_.erase(found);
    return 1;
}

void HostEvents::Emit(int kind, int userId, int medium, uint32_t address, int port, const std::string& text) {
    const TavolinEvent event{kind, userId, medium, address, port, text.c_str()};
    // A copy: a listener may unsubscribe itself or another while it is told.
    const std::vector<ITavolinEventListener*> listeners = listeners_;
    for (ITavolinEventListener* listener : listeners)
        if (!silenced_ && std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end())
            listener->OnEvent(&event);
}

bool ArrivalWatch::Arrived(uint32_t now) {
    last_ = now;
    if (flowing_) return false;
    flowing_ = true;
    return true;
}

bool ArrivalWatch::Stopped(uint32_t now) {
    if (!flowing_ || now - last_ <= silenceMs_) return false;
    flowing_ = false;
    return true;
}
