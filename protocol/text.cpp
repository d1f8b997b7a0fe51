#include "protocol/text.h"

namespace vantora {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UpperCase(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerCase(a[i]) != LowerCase(b[i])) return false;
    return true;
}

std::optional<int64_t> ParseInteger(std::string_view text, int base, int64_t min, int64_t max) {
    bool negative = false;
    if (min < 0 && !text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || (base != 10 && base != 16)) return std::nullopt;
    // The magnitude is bounded by the far end of the range on its side, so it never wraps.
    const uint64_t limit = negative ? (min < 0 ? uint64_t{0} - static_cast<uint64_t>(min) : 0)
                                    : (max < 0 ? 0 : static_cast<uint64_t>(max));
    const uint64_t b = static_cast<uint64_t>(base);
    uint64_t magnitude = 0;
    for (char c : text) {
        uint64_t d;
        if (IsDigit(c))
            d = static_cast<uint64_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<uint64_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<uint64_t>(c - 'A' + 10);
        else
            return std::nullopt;
        if (d > limit || magnitude > (limit - d) / b) return std::nullopt;
        magnitude = magnitude * b + d;
    }
    const int64_t value =
        negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
    if (value < min || value > max) return std::nullopt;
    return value;
}

}  // namespace vantora
