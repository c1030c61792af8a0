// libsrtp's global state, shared by every session in the process: the first
// hold runs srtp_init, the last one to go srtp_shutdown, so the library is
// never shut down while a session lives. Every owner of a libsrtp session
// keeps a hold for the session's whole life. Any thread.
#pragma once

namespace srtp {

class LibraryHold {
public:
    LibraryHold();
    ~LibraryHold();
    LibraryHold(const LibraryHold&) = delete;
    LibraryHold& operator=(const LibraryHold&) = delete;

    // False when srtp_init failed (its self-tests): nothing may use libsrtp.
    bool Held() const { return held_; }

    // Holds in the process now; for tests.
    static int Holders();

private:
    bool held_ = false;
};

}  // namespace srtp
