#include "tools/room/json_value.h"

#include <cassert>

namespace room {

JsonValue::JsonValue(std::optional<double> value) {
    if (value) value_ = *value;
}

JsonValue& JsonValue::Add(std::string name, JsonValue value) {
    assert(std::holds_alternative<Object>(value_));
    std::get<Object>(value_).emplace_back(std::move(name), std::move(value));
    return *this;
}

JsonValue& JsonValue::Push(JsonValue value) {
    assert(std::holds_alternative<Array>(value_));
    std::get<Array>(value_).push_back(std::move(value));
    return *this;
}

void JsonValue::Write(JsonWriter& json) const {
    if (std::holds_alternative<std::monostate>(value_)) {
        json.Null();
    } else if (const bool* flag = std::get_if<bool>(&value_)) {
        json.Bool(*flag);
    } else if (const double* number = std::get_if<double>(&value_)) {
        json.Number(*number);
    } else if (const std::string* text = std::get_if<std::string>(&value_)) {
        json.String(*text);
    } else if (const Array* elements = std::get_if<Array>(&value_)) {
        json.BeginArray();
        for (const JsonValue& element : *elements) element.Write(json);
        json.EndArray();
    } else {
        json.BeginObject();
        for (const auto& [name, member] : std::get<Object>(value_)) {
            json.Key(name);
            member.Write(json);
        }
        json.EndObject();
    }
}

std::string JsonValue::Text() const {
    JsonWriter json;
    Write(json);
    return json.Text();
}

}  // namespace room
