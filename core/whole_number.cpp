#include "whole_number.h"

#include <charconv>

std::optional<long long> ParseWholeNumber(std::string_view text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value, 10);
    if (text.empty() || error != std::errc() || last != end) return std::nullopt;
    return value;
}
