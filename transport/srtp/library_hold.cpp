#include "transport/srtp/library_hold.h"

#include <srtp2/srtp.h>

#include <mutex>

namespace srtp {
namespace {
std::mutex& HoldMutex() {
    static std::mutex mutex;
    return mutex;
}
int holders = 0;  // guarded by HoldMutex()
}  // namespace

LibraryHold::LibraryHold() {
    std::lock_guard<std::mutex> lock(HoldMutex());
    if (holders == 0 && srtp_init() != srtp_err_status_ok) return;
    ++holders;
    held_ = true;
}

LibraryHold::~LibraryHold() {
    if (!held_) return;
    std::lock_guard<std::mutex> lock(HoldMutex());
    if (--holders == 0) srtp_shutdown();
}

int LibraryHold::Holders() {
    std::lock_guard<std::mutex> lock(HoldMutex());
    return holders;
}

}  // namespace srtp
