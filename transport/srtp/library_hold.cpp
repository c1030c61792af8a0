#include "transport/srtp/library_hold.h"

#include "transport/srtp/srtp_session.h"

#include <srtp2/srtp.h>

#include <mutex>

namespace srtp {
namespace {
struct Library {
    std::mutex mutex;
    int holders = 0;  // guarded by mutex
    Session idle;     // guarded by mutex; lives while holders > 0
};

Library& TheLibrary() {
    static Library library;
    return library;
}
}  // namespace

LibraryHold::LibraryHold() {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    if (library.holders == 0) {
        if (srtp_init() != srtp_err_status_ok) return;
        library.idle = CreateSession(SenderKey{}, Direction::kUnprotect);
        if (!library.idle) {
            srtp_shutdown();
            return;
        }
    }
    ++library.holders;
    held_ = true;
}

LibraryHold::~LibraryHold() {
    if (!held_) return;
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    if (--library.holders > 0) return;
    library.idle.reset();
    srtp_shutdown();
}

int LibraryHold::Holders() {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    return library.holders;
}

}  // namespace srtp
