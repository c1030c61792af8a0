// Just enough JSON for stats.json: nested objects and arrays of numbers,
// strings, booleans and nulls, written in order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace room {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // Inside an object: the name of the value that follows.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view value);
    // Not-a-number and infinities have no JSON form and are written as null.
    JsonWriter& Number(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    JsonWriter& Optional(std::optional<double> value);

    const std::string& Text() const { return text_; }

private:
    void BeforeValue();
    void Quoted(std::string_view value);

    std::string text_;
    std::vector<bool> firstInScope_;
    bool afterKey_ = false;
};

}  // namespace room
