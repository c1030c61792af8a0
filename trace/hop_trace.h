// Per-hop time stamps of video frames, camera to the remote host's view.
// Off, a stamp costs one relaxed load of a flag: every call site goes through
// TAVOLIN_HOP_TRACE, which evaluates nothing else. On, stamps are kept in
// memory (up to a bound) until the host takes them.
#pragma once

#include "trace/hop_record.h"

#include <atomic>
#include <cstdint>

namespace hop_trace {

extern std::atomic<bool> g_tracing;
inline bool On() { return g_tracing.load(std::memory_order_relaxed); }

// Sending side. The frame has no RTP timestamp until its first fragment is
// sent, so the capture-side stamps wait on the engine thread until then.
void FrameStored(const void* slot);  // capture thread, the ring slot written
void FrameTaken(const void* slot);   // engine thread, the ring slot read
void FrameCoded();                   // engine thread, before the fragments are sent
// Any packet a session sends; kept only between FrameCoded and FrameSent.
void PacketSent(uint32_t ssrc, uint32_t timestamp);
void FrameSent();  // engine thread, after the last fragment

// Receiving side; `receiver` names the receiving engine.
// Poll thread: a fragment received `secondsSinceReceived` ago is being queued.
void PacketQueued(uint32_t receiver, uint32_t ssrc, uint32_t timestamp, double secondsSinceReceived);
// Engine thread: also makes this the frame the next frame stamps are about.
void PacketDrained(uint32_t receiver, uint32_t ssrc, uint32_t timestamp);
// Engine thread: assembled, decoded or drawn, for the frame of the last fragment drained.
void FrameStep(TavolinHop hop);

}  // namespace hop_trace

#define TAVOLIN_HOP_TRACE(call)                   \
    do {                                          \
        if (::hop_trace::On()) ::hop_trace::call; \
    } while (0)
