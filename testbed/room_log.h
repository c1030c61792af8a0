// The engines' log texts, converted from GBK to UTF-8 as they arrive and kept
// in arrival order with the player that logged them.
#pragma once

#include "tools/host_text/gbk_text.h"

#include <tavolin/tavolin.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace room {

struct LogLine {
    double seconds = 0;  // since the log was made
    int player = 0;
    std::string text;  // UTF-8
};

class RoomLog {
public:
    void Add(int player, std::string_view gbkText);
    std::vector<LogLine> Lines() const;
    // How many texts of this player equal `utf8Text`.
    size_t Count(int player, std::string_view utf8Text) const;
    // Every line as "[SECONDS s] player N: text", one per line.
    bool WriteFile(const std::string& path) const;

private:
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

// The log sink one player's engine writes to; any thread may call it.
class PlayerLogSink : public ITavolinLogSink {
public:
    PlayerLogSink(RoomLog& log, int player) : log_(log), player_(player) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    void Log(const char* format, ...) override;

private:
    RoomLog& log_;
    int player_;
};

}  // namespace room
