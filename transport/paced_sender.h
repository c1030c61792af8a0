// The video pacer's thread: takes a frame's datagrams from the engine
// thread and hands each to `send` when the pacer lets it go; what need not
// wait (see VideoPacer::PassesStraight) Push sends on the caller's thread. Stop sends
// what is still held at once, then ends the thread.
#pragma once

#include "transport/pacing/video_pacer.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class PacedSender {
public:
    // On the pacer's thread: firstOfFrame opens a new frame's timestamp;
    // `slotSeconds` is the datagram's share of the pace (0: none), over
    // which its copies to every peer may be spread.
    using Send = std::function<void(bool firstOfFrame, const uint8_t* data, size_t length, double slotSeconds)>;

    PacedSender() = default;
    ~PacedSender() { Stop(); }
    PacedSender(const PacedSender&) = delete;
    PacedSender& operator=(const PacedSender&) = delete;

    void Start(Send send);
    void Stop();

    void SetBudget(double bitsPerSecond, bool strict);
    double Budget() const;
    // How long the oldest datagram held has waited, seconds.
    double BacklogSeconds() const;
    void BeginFrame();
    bool Push(const uint8_t* data, size_t length);
    void EndFrame();

private:
    void Run();
    double Now() const;

    Send send_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    pacing::VideoPacer pacer_;  // guarded by mutex_
    bool stop_ = false;         // guarded by mutex_
    std::thread thread_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
