// Whole numbers as the command line reads them, options and lists alike: an
// optional minus sign and decimal digits, nothing else (no blanks, no plus
// sign); nothing when the text is not one or the value does not fit.
#pragma once

#include <optional>
#include <string_view>

std::optional<long long> ParseWholeNumber(std::string_view text);
