// Collects the camera names a device walk reports.
#pragma once

#include <tavolin/tavolin.h>

#include <optional>
#include <string>
#include <vector>

namespace capture_testing {

// nullopt stands for a name reported without text.
struct NameCollector : ITavolinDeviceNameSink {
    void OnDeviceName(const char* name) override {
        names.push_back(name ? std::optional<std::string>(name) : std::nullopt);
    }
    std::vector<std::optional<std::string>> names;
};

}  // namespace capture_testing
