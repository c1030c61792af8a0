#include "testbed/measurement/picture_checker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace room {

PictureChecker::PictureChecker(size_t buffers) : buffers_(buffers) {
    for (size_t i = buffers; i > 0; --i) free_.push_back(i - 1);
    thread_ = std::thread([this] { Run(); });
}

PictureChecker::~PictureChecker() { Finish(); }

void PictureChecker::Submit(PictureInspector& inspector, const uint8_t* picture, double shownAt) {
    size_t buffer = kNoBuffer;
    {
        std::lock_guard lock(mutex_);
        if (finishing_ || free_.empty()) {
            ++missed_;
            if (!finishing_) waiting_.push_back({&inspector, shownAt, kNoBuffer});
        } else {
            buffer = free_.back();
            free_.pop_back();
        }
    }
    if (buffer == kNoBuffer) {
        queued_.notify_one();
        return;
    }
    std::memcpy(buffers_[buffer].data(), picture, kPictureBytes);
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back({&inspector, shownAt, buffer});
    }
    queued_.notify_one();
}

void PictureChecker::Run() {
    // The lowest share of a busy machine, so that the checks never delay an
    // engine thread; what they cannot keep up with is counted as missed.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kPictureCheckNice);
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return finishing_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // finishing, and everything checked
        const Entry entry = waiting_.front();
        waiting_.pop_front();
        lock.unlock();
        if (entry.buffer == kNoBuffer) {
            entry.inspector->Missed(entry.shownAt);
            lock.lock();
            continue;
        }
        entry.inspector->Inspect(buffers_[entry.buffer].data(), entry.shownAt);
        lock.lock();
        free_.push_back(entry.buffer);
        ++checked_;
    }
}

void PictureChecker::Finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    queued_.notify_one();
    if (thread_.joinable()) thread_.join();
}

uint64_t PictureChecker::Checked() const {
    std::lock_guard lock(mutex_);
    return checked_;
}

uint64_t PictureChecker::Missed() const {
    std::lock_guard lock(mutex_);
    return missed_;
}

}  // namespace room
