// libsrtp's global state, shared by every session in the process: the first
// hold runs srtp_init, the last one to go srtp_shutdown, so the library is
// never shut down while a session lives. Every owner of a libsrtp session
// keeps a hold for the session's whole life. Any thread.
//
// Between the two, the holds keep one idle session of their own: libsrtp's
// GCM (NSS here) sets its whole library up for the first live session and
// tears it down with the last, which made each session that came and went
// alone cost about 8 ms instead of 25 us (measured here). srtp_init itself
// costs about 0.1 s (its self-tests): keep a hold across rooms to pay it once.
#pragma once

namespace srtp {

class LibraryHold {
public:
    LibraryHold();
    ~LibraryHold();
    LibraryHold(const LibraryHold&) = delete;
    LibraryHold& operator=(const LibraryHold&) = delete;

    // False when libsrtp did not start (its self-tests failed): nothing may
    // use it.
    bool Held() const { return held_; }

    // Holds in the process now; for tests.
    static int Holders();

private:
    bool held_ = false;
};

}  // namespace srtp
