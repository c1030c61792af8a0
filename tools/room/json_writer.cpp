#include "tools/room/json_writer.h"

#include <cmath>
#include <cstdio>

namespace room {

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!firstInScope_.empty()) {
        if (!firstInScope_.back()) text_ += ',';
        firstInScope_.back() = false;
    }
}

void JsonWriter::Quoted(std::string_view value) {
    text_ += '"';
    for (const char c : value) {
        switch (c) {
            case '"': text_ += "\\\""; break;
            case '\\': text_ += "\\\\"; break;
            case '\n': text_ += "\\n"; break;
            case '\r': text_ += "\\r"; break;
            case '\t': text_ += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    text_ += escape;
                } else {
                    text_ += c;
                }
        }
    }
    text_ += '"';
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    text_ += '{';
    firstInScope_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    firstInScope_.pop_back();
    text_ += '}';
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    text_ += '[';
    firstInScope_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    firstInScope_.pop_back();
    text_ += ']';
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    BeforeValue();
    Quoted(name);
    text_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
    BeforeValue();
    Quoted(value);
    return *this;
}

JsonWriter& JsonWriter::Number(double value) {
    if (!std::isfinite(value)) return Null();
    BeforeValue();
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    text_ += text;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
    return *this;
}

JsonWriter& JsonWriter::Optional(std::optional<double> value) { return value ? Number(*value) : Null(); }

}  // namespace room
