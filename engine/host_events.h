// The host's event listeners and the watch that turns silence into events:
// media that stops arriving from a peer, a camera that stops delivering.
#pragma once

#include <tavolin/tavolin.h>

#include <cstdint>
#include <string>
#include <vector>

// The event's medium field.
inline int HostMedium(bool video) { return video ? TAVOLIN_MEDIUM_VIDEO : TAVOLIN_MEDIUM_VOICE; }

class HostEvents {
public:
    int Subscribe(ITavolinEventListener* listener);
    int Unsubscribe(ITavolinEventListener* listener);

    // Engine thread. Listeners may unsubscribe from inside their call, or
    // silence the events (a listener that leaves tells the rest of them nothing).
    void Emit(int kind, int userId, int medium, uint32_t address = 0, int port = 0, const std::string& text = "");
    // While silenced, nothing is told; subscriptions stay.
    void Silence(bool on) { silenced_ = on; }

private:
    std::vector<ITavolinEventListener*> listeners_;
    bool silenced_ = false;
};

// Whether something keeps arriving: started on the first arrival, stopped
// after a silence longer than `silenceMs`, started again by the next one.
class ArrivalWatch {
public:
    explicit ArrivalWatch(uint32_t silenceMs) : silenceMs_(silenceMs) {}
    // True when this arrival starts a flow.
    bool Arrived(uint32_t now);
    // True when the flow has just stopped.
    bool Stopped(uint32_t now);
    void Reset() { flowing_ = false; }

private:
    uint32_t silenceMs_;
    uint32_t last_ = 0;
    bool flowing_ = false;
};
