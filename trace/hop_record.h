// What the hop trace records, as a host reads it back from the library: one
// record per hop a video frame passed, keyed by the receiving engine, the
// sender's video source and the frame's RTP timestamp. Plain C types, so
// that a host that loads the library at run time can read them too.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The hops of a frame in the order it passes them. Sending hops carry no
// receiver (0); fragment hops come once per fragment.
enum TavolinHop : uint32_t {
    kTavolinHopCaptured = 0,  // capture thread: the frame is stored in the ring
    kTavolinHopTaken,         // engine thread: taken out of the ring
    kTavolinHopCoded,         // the encoder handed on its bits
    kTavolinHopSent,          // a fragment is handed to the socket (per fragment)
    kTavolinHopReceived,      // poll thread: a fragment came from the socket (per fragment)
    kTavolinHopQueued,        // poll thread: handed to the receive queue (per fragment)
    kTavolinHopDrained,       // engine thread: taken from the queue (per fragment)
    kTavolinHopAssembled,     // the frame's fragments joined, at the decoder's entry
    kTavolinHopDecoded,       // the decoder has a picture for the host
    kTavolinHopDrawn,         // the host's DrawFrame returned
    kTavolinHopCount
};

struct TavolinHopRecord {
    int64_t nanoseconds;  // monotonic clock
    uint32_t receiver;    // the receiving engine's local video port; 0 on the sending side
    uint32_t sender;      // the sender's video SSRC
    uint32_t timestamp;   // the frame's RTP timestamp
    uint32_t hop;         // a TavolinHop
};

#ifdef __cplusplus
extern "C" {
#endif
// on != 0 empties the record and starts tracing; 0 stops it. Returns the
// number of records that did not fit since tracing last started.
uint64_t TavolinSetHopTrace(int on);
// Moves up to `capacity` records, oldest first, into `records`; returns how many.
size_t TavolinTakeHopTrace(TavolinHopRecord* records, size_t capacity);
#ifdef __cplusplus
}
#endif
