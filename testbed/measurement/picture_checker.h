// The demo's own look at every picture shown (frame stamp, latency, PSNR),
// done on a thread of the demo rather than inside DrawFrame, so that the
// engine threads spend their time, and frames their latency, on the engine
// alone. DrawFrame copies the picture into one of a fixed number of buffers;
// a picture that finds none free is counted as not checked, never waited
// for, and only its time is queued. One queue for the whole room, taken in
// the order shown, so that a sender's preview is always looked at before the
// remote copies of it, and a picture not checked keeps its place.
#pragma once

#include "testbed/measurement/picture_constants.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace room {

// Whatever looks at shown pictures for the checker.
class PictureInspector {
public:
    // On the checker's thread, in the order the pictures were shown: a
    // picture, or the time of one the checker had no room for.
    virtual void Inspect(const uint8_t* picture, double shownAt) = 0;
    virtual void Missed(double shownAt) = 0;

protected:
    ~PictureInspector() = default;
};

class PictureChecker {
public:
    explicit PictureChecker(size_t buffers = kPictureCheckBuffers);
    ~PictureChecker();
    PictureChecker(const PictureChecker&) = delete;
    PictureChecker& operator=(const PictureChecker&) = delete;

    // Any thread: queues a copy of the kPictureBytes at `picture` for
    // `inspector`, or only its time when every buffer is taken.
    void Submit(PictureInspector& inspector, const uint8_t* picture, double shownAt);
    // Checks what is queued, then ends the thread; later pictures are only
    // counted as missed.
    void Finish();

    uint64_t Checked() const;
    uint64_t Missed() const;

private:
    struct Entry {
        PictureInspector* inspector;
        double shownAt;
        size_t buffer;  // kNoBuffer: missed
    };
    static constexpr size_t kNoBuffer = SIZE_MAX;
    void Run();

    std::vector<std::array<uint8_t, kPictureBytes>> buffers_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::vector<size_t> free_;  // buffer indexes
    std::deque<Entry> waiting_;
    bool finishing_ = false;
    uint64_t checked_ = 0;
    uint64_t missed_ = 0;
    std::thread thread_;
};

}  // namespace room
