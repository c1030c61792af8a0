// Tells a graph that was just set running whether its camera really
// streams: the first sample at the grabber says yes, an error on the bus
// says no. Errors arrive on streaming threads, the answer is awaited on the
// thread that runs the graph.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace media {

class StreamStartMonitor {
public:
    enum class Outcome { kStreaming, kFailed, kUndecided };

    void Reset();
    void OnSample();
    void OnError();
    // Waits until a sample or an error arrives, at most `limit`.
    Outcome Wait(std::chrono::milliseconds limit);

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_sampleSeen = false;
    bool m_errorSeen = false;
};

}  // namespace media
