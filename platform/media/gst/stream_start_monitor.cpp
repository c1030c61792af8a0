#include "platform/media/gst/stream_start_monitor.h"

namespace media {

void StreamStartMonitor::Reset() {
    std::lock_guard lock(m_lock);
    m_sampleSeen = false;
    m_errorSeen = false;
}

void StreamStartMonitor::OnSample() {
    {
        std::lock_guard lock(m_lock);
        if (m_sampleSeen) return;
        m_sampleSeen = true;
    }
    m_changed.notify_all();
}

void StreamStartMonitor::OnError() {
    {
        std::lock_guard lock(m_lock);
        m_errorSeen = true;
    }
    m_changed.notify_all();
}

StreamStartMonitor::Outcome StreamStartMonitor::Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, limit, [this] { return m_sampleSeen || m_errorSeen; });
    if (m_errorSeen) return Outcome::kFailed;
    return m_sampleSeen ? Outcome::kStreaming : Outcome::kUndecided;
}

}  // namespace media
