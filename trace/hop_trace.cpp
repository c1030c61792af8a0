#include "trace/hop_trace.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace hop_trace {

std::atomic<bool> g_tracing{false};

namespace {
// About a minute of a sixteen-player room (33,000 records a second, 24 bytes
// each); what comes after is counted, not kept.
constexpr size_t kMaxRecords = size_t{1} << 21;
constexpr uint32_t kSendingSide = 0;

struct Store {
    std::mutex mutex;
    std::vector<TavolinHopRecord> records;
    uint64_t dropped = 0;
    // Capture time of the frame each ring slot holds.
    std::unordered_map<const void*, int64_t> storedAt;
};

Store& TheStore() {
    static Store store;
    return store;
}

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Add(const TavolinHopRecord& record) {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    if (store.records.size() < kMaxRecords)
        store.records.push_back(record);
    else
        ++store.dropped;
}

void Add(TavolinHop hop, uint32_t receiver, uint32_t ssrc, uint32_t timestamp, int64_t at) {
    Add(TavolinHopRecord{at, receiver, ssrc, timestamp, hop});
}

// The frame the engine thread took and is coding: its stamps until the
// first fragment tells its RTP timestamp.
struct PendingFrame {
    std::optional<int64_t> captured;
    int64_t taken = 0;
    int64_t coded = 0;
    bool armed = false;  // coded, fragments on their way
    bool keyed = false;  // its stamps are recorded
};
thread_local PendingFrame t_pending;

// The received frame the engine thread is working on.
struct FrameKey {
    uint32_t receiver = 0;
    uint32_t ssrc = 0;
    uint32_t timestamp = 0;
};
thread_local std::optional<FrameKey> t_receiving;
}  // namespace

void FrameStored(const void* slot) {
    const int64_t now = Now();
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    store.storedAt[slot] = now;
}

void FrameTaken(const void* slot) {
    t_pending = PendingFrame{};
    t_pending.taken = Now();
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    if (const auto found = store.storedAt.find(slot); found != store.storedAt.end()) {
        t_pending.captured = found->second;
        store.storedAt.erase(found);
    }
}

void FrameCoded() {
    t_pending.coded = Now();
    t_pending.armed = true;
}

void PacketSent(uint32_t ssrc, uint32_t timestamp) {
    // Only the fragments of the frame this thread coded: greetings, voice
    // and other packets of the session are no hop of a frame.
    if (!t_pending.armed) return;
    const int64_t now = Now();
    if (!t_pending.keyed) {
        if (t_pending.captured) Add(kTavolinHopCaptured, kSendingSide, ssrc, timestamp, *t_pending.captured);
        Add(kTavolinHopTaken, kSendingSide, ssrc, timestamp, t_pending.taken);
        Add(kTavolinHopCoded, kSendingSide, ssrc, timestamp, t_pending.coded);
        t_pending.keyed = true;
    }
    Add(kTavolinHopSent, kSendingSide, ssrc, timestamp, now);
}

void FrameSent() { t_pending = PendingFrame{}; }

void PacketQueued(uint32_t receiver, uint32_t ssrc, uint32_t timestamp, double secondsSinceReceived) {
    const int64_t now = Now();
    const auto since = static_cast<int64_t>(std::max(0.0, secondsSinceReceived) * 1e9);
    Add(kTavolinHopReceived, receiver, ssrc, timestamp, now - since);
    Add(kTavolinHopQueued, receiver, ssrc, timestamp, now);
}

void PacketDrained(uint32_t receiver, uint32_t ssrc, uint32_t timestamp) {
    t_receiving = FrameKey{receiver, ssrc, timestamp};
    Add(kTavolinHopDrained, receiver, ssrc, timestamp, Now());
}

void FrameStep(TavolinHop hop) {
    if (t_receiving) Add(hop, t_receiving->receiver, t_receiving->ssrc, t_receiving->timestamp, Now());
}

}  // namespace hop_trace

extern "C" __attribute__((visibility("default"))) uint64_t TavolinSetHopTrace(int on) {
    hop_trace::Store& store = hop_trace::TheStore();
    std::lock_guard lock(store.mutex);
    const uint64_t dropped = store.dropped;
    if (on) {
        store.records.clear();
        store.records.reserve(hop_trace::kMaxRecords);
        store.storedAt.clear();
        store.dropped = 0;
    }
    hop_trace::g_tracing.store(on != 0, std::memory_order_relaxed);
    return dropped;
}

extern "C" __attribute__((visibility("default"))) size_t TavolinTakeHopTrace(TavolinHopRecord* records,
                                                                             size_t capacity) {
    if (!records) return 0;
    hop_trace::Store& store = hop_trace::TheStore();
    std::lock_guard lock(store.mutex);
    const size_t count = std::min(capacity, store.records.size());
    std::copy_n(store.records.begin(), count, records);
    store.records.erase(store.records.begin(), store.records.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}
