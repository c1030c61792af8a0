#include "transport/paced_sender.h"

#include <array>

void PacedSender::Start(Send send) {
    Stop();
    std::lock_guard lock(mutex_);
    send_ = std::move(send);
    stop_ = false;
    thread_ = std::thread(&PacedSender::Run, this);
}

void PacedSender::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

double PacedSender::Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void PacedSender::SetBudget(double bitsPerSecond, bool strict) {
    std::lock_guard lock(mutex_);
    pacer_.SetBudget(bitsPerSecond, strict);
}

double PacedSender::Budget() const {
    std::lock_guard lock(mutex_);
    return pacer_.Budget();
}

double PacedSender::BacklogSeconds() const {
    std::lock_guard lock(mutex_);
    return pacer_.BacklogSeconds(Now());
}

void PacedSender::BeginFrame() {
    std::lock_guard lock(mutex_);
    pacer_.BeginFrame();
}

bool PacedSender::Push(const uint8_t* data, size_t length) {
    bool pushed;
    {
        std::unique_lock lock(mutex_);
        bool firstOfFrame = false;
        if (!stop_ && thread_.joinable() && pacer_.PassesStraight(Now(), length, &firstOfFrame)) {
            // Sent on the caller's thread, as without a pacer: no wait for
            // the pacer's thread to wake.
            lock.unlock();
            send_(firstOfFrame, data, length, 0);
            return true;
        }
        pushed = pacer_.Push(Now(), data, length);
    }
    wake_.notify_all();
    return pushed;
}

void PacedSender::EndFrame() {
    std::lock_guard lock(mutex_);
    pacer_.EndFrame();
}

// At Stop what is still held leaves at once: the engine handed it over.
void PacedSender::Run() {
    std::array<uint8_t, pacing::kMaxPacedBytes> bytes;
    std::unique_lock lock(mutex_);
    for (;;) {
        const double now = Now();
        const pacing::PacedDatagram* due = pacer_.Due(stop_ ? now + pacer_.WaitSeconds(now) : now);
        if (!due) {
            if (stop_) return;
            const double wait = pacer_.WaitSeconds(now);
            if (wait < 0)
                wake_.wait(lock);
            else
                wake_.wait_for(lock, std::chrono::duration<double>(wait));
            continue;
        }
        const bool first = due->firstOfFrame;
        const size_t length = due->length;
        const double slot = stop_ ? 0 : due->spacingSeconds;
        std::copy(due->bytes.begin(), due->bytes.begin() + length, bytes.begin());
        pacer_.Pop(now);
        lock.unlock();
        send_(first, bytes.data(), length, slot);
        lock.lock();
    }
}
