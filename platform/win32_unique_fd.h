// Closes a descriptor when its owner goes away.
#pragma once

#include <unistd.h>

namespace win32 {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) close(fd_);
    }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

private:
    int fd_;
};

}  // namespace win32
