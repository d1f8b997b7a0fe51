// Small text helpers shared by every layer: one blank test, one trim, one ASCII case fold and
// one strict number parser, so that a field means the same wherever it is typed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantora {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Without leading and trailing blanks (spaces and tabs).
std::string_view Trim(std::string_view s);

// ASCII letters only: names in files and on command lines are plain ASCII.
char LowerCase(char c);
std::string UpperCase(std::string s);
bool SameName(std::string_view a, std::string_view b);  // equal but for the case of letters

// Digits of base 10 or 16 and nothing else, with a leading '+' or '-' only where min is below 0.
// Empty when the text is empty, holds another character or gives a value outside [min, max].
std::optional<int64_t> ParseInteger(std::string_view text, int base, int64_t min, int64_t max);

}  // namespace vantora
