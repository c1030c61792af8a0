// A log sink that keeps every formatted text, in order, for assertions.
#pragma once

#include <tavolin/tavolin.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {
class RecordingLogSink : public ITavolinLogSink {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    void Log(const char* format, ...) override;

    std::vector<std::string> Texts() const;
    bool Contains(const std::string& text) const;
    size_t Count(const std::string& text) const;
    void Clear();

    // Told each text after it is recorded, as a host that acts from its log sink.
    std::function<void(const std::string&)> onText;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};
}  // namespace testing_support
