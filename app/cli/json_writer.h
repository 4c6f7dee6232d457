// A small JSON writer: objects, arrays, strings, numbers, booleans and null,
// two-space indentation. Strings are escaped (quote, backslash, control
// characters); bytes from 0x80 on pass through, so callers give UTF-8.
// Numbers are written in the shortest form that reads back exactly; values
// that are not finite become null. Keys are written only inside objects.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string JsonQuoted(std::string_view text);

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    JsonWriter& Number(double value);
    JsonWriter& Number(std::optional<double> value);  // null when empty
    JsonWriter& Integer(long long value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // The document so far, ending in a newline once the outermost value closed.
    const std::string& Text() const { return text_; }

private:
    void BeforeValue();
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void NewLine();

    std::string text_;
    std::vector<bool> has_items_;  // one entry per open object or array
    bool after_key_ = false;
};
