// A strict little JSON reader for tests: parses a whole document into a tree
// and reports where it stopped when the text is not JSON.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue& operator[](const std::string& key) const {
        const auto found = members.find(key);
        if (kind != Kind::Object || found == members.end()) {
            throw std::runtime_error("no member '" + key + "'");
        }
        return found->second;
    }
    const JsonValue& operator[](std::size_t index) const { return items.at(index); }
    bool Has(const std::string& key) const { return members.count(key) != 0; }
    bool IsNull() const { return kind == Kind::Null; }
};

class JsonReader {
public:
    // Throws std::runtime_error naming the offset of the first fault.
    static JsonValue Parse(const std::string& text) {
        JsonReader reader(text);
        JsonValue value = reader.Value();
        reader.SkipSpace();
        if (reader.at_ != text.size()) reader.Fail("text after the document");
        return value;
    }

private:
    explicit JsonReader(const std::string& text) : text_(text) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
    }
    void SkipSpace() {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos) ++at_;
    }
    bool Take(char c) {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected '") + c + "'");
    }
    bool Word(const char* word) {
        const std::string w(word);
        if (text_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }

    JsonValue Value() {
        SkipSpace();
        if (at_ >= text_.size()) Fail("unexpected end");
        JsonValue v;
        const char c = text_[at_];
        if (c == '{') return Object();
        if (c == '[') return Array();
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = String();
        } else if (Word("null")) {
            v.kind = JsonValue::Kind::Null;
        } else if (Word("true")) {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
        } else if (Word("false")) {
            v.kind = JsonValue::Kind::Bool;
        } else {
            v.kind = JsonValue::Kind::Number;
            v.number = Number();
        }
        return v;
    }

    double Number() {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const std::size_t integer_start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
            return at_ > from;
        };
        if (!digits()) Fail("expected a value");
        if (text_[integer_start] == '0' && at_ - integer_start > 1) Fail("leading zero");
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits()) Fail("expected digits after '.'");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!digits()) Fail("expected exponent digits");
        }
        return std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
    }

    std::string String() {
        Expect('"');
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) Fail("unterminated string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) Fail("unterminated escape");
            const char e = text_[at_++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (at_ + 4 > text_.size()) Fail("short \\u escape");
                    const unsigned code = std::stoul(text_.substr(at_, 4), nullptr, 16);
                    at_ += 4;
                    if (code >= 0x80) Fail("test reader handles ASCII \\u escapes only");
                    out += static_cast<char>(code);
                    break;
                }
                default: Fail("unknown escape");
            }
        }
    }

    JsonValue Array() {
        Expect('[');
        JsonValue v;
        v.kind = JsonValue::Kind::Array;
        if (Take(']')) return v;
        do v.items.push_back(Value());
        while (Take(','));
        Expect(']');
        return v;
    }

    JsonValue Object() {
        Expect('{');
        JsonValue v;
        v.kind = JsonValue::Kind::Object;
        if (Take('}')) return v;
        do {
            SkipSpace();
            const std::string key = String();
            if (v.members.count(key)) Fail("duplicate key '" + key + "'");
            Expect(':');
            v.members[key] = Value();
        } while (Take(','));
        Expect('}');
        return v;
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

// Splits CSV text (RFC 4180: quoted fields, doubled quotes, CRLF or LF) into
// rows of fields. Throws on an unterminated quote.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, field_started = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = field_started = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            field_started = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            field_started = false;
        } else {
            field += c;
            field_started = true;
        }
    }
    if (quoted) throw std::runtime_error("CSV: unterminated quote");
    if (field_started || !field.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}
