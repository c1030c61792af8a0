#include "tests/support/recording_log_sink.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace testing_support {
void RecordingLogSink::Log(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.emplace_back(buffer);
    }
    if (onText) onText(buffer);
}

std::vector<std::string> RecordingLogSink::Texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
}

bool RecordingLogSink::Contains(const std::string& text) const { return Count(text) > 0; }

size_t RecordingLogSink::Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(texts_.begin(), texts_.end(), text));
}

void RecordingLogSink::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.clear();
}
}  // namespace testing_support
