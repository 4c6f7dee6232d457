#include "json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string JsonQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            case '\b': quoted += "\\b"; break;
            case '\f': quoted += "\\f"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

void JsonWriter::NewLine() {
    text_ += '\n';
    text_.append(2 * has_items_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_items_.empty()) return;
    if (has_items_.back()) text_ += ',';
    has_items_.back() = true;
    NewLine();
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    text_ += bracket;
    has_items_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    const bool had_items = has_items_.back();
    has_items_.pop_back();
    if (had_items) NewLine();
    text_ += bracket;
    if (has_items_.empty()) text_ += '\n';
    return *this;
}

JsonWriter& JsonWriter::BeginObject() { return Open('{'); }
JsonWriter& JsonWriter::EndObject() { return Close('}'); }
JsonWriter& JsonWriter::BeginArray() { return Open('['); }
JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    text_ += JsonQuoted(key) + ": ";
    after_key_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
    BeforeValue();
    text_ += JsonQuoted(value);
    return *this;
}

JsonWriter& JsonWriter::Number(double value) {
    if (!std::isfinite(value)) return Null();
    BeforeValue();
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, written.ptr);
    return *this;
}

JsonWriter& JsonWriter::Number(std::optional<double> value) {
    return value ? Number(*value) : Null();
}

JsonWriter& JsonWriter::Integer(long long value) {
    BeforeValue();
    text_ += std::to_string(value);
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
