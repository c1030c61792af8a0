// A JSON document as a tree of values, built whole and then written once
// (stats.json). Object members keep the order they were added in.
#pragma once

#include "tools/room/json_writer.h"

#include <concepts>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace room {

class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Object = std::vector<std::pair<std::string, JsonValue>>;

    JsonValue() = default;  // null
    JsonValue(bool value) : value_(value) {}
    template <typename Number>
    requires(std::integral<Number> || std::floating_point<Number>) &&
        (!std::same_as<Number, bool>)JsonValue(Number value) : value_(static_cast<double>(value)) {}
    // Nothing is null.
    JsonValue(std::optional<double> value);
    JsonValue(std::string value) : value_(std::move(value)) {}
    JsonValue(const char* value) : value_(std::string(value)) {}
    JsonValue(Array elements) : value_(std::move(elements)) {}
    JsonValue(Object members) : value_(std::move(members)) {}

    // On an object: `value` as its last member.
    JsonValue& Add(std::string name, JsonValue value);
    // On an array: `value` as its last element.
    JsonValue& Push(JsonValue value);

    void Write(JsonWriter& json) const;
    std::string Text() const;

private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> value_;
};

}  // namespace room
