#include "testbed/room_log.h"

#include "testbed/testbed_constants.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace room {

void RoomLog::Add(int player, std::string_view gbkText) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    LogLine line{seconds, player, GbkToUtf8(gbkText)};
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<LogLine> RoomLog::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

size_t RoomLog::Count(int player, std::string_view utf8Text) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const LogLine& line : lines_)
        if (line.player == player && line.text == utf8Text) ++count;
    return count;
}

bool RoomLog::WriteFile(const std::string& path) const {
    std::ofstream file(path);
    for (const LogLine& line : Lines()) {
        char time[32];
        std::snprintf(time, sizeof time, "[%8.3f s] ", line.seconds);
        file << time << "player " << line.player << ": " << line.text << '\n';
    }
    return static_cast<bool>(file);
}

void PlayerLogSink::Log(const char* format, ...) {
    char text[kLogTextBytes];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    log_.Add(player_, std::string_view(text, std::min<size_t>(static_cast<size_t>(length), sizeof text - 1)));
}

}  // namespace room
