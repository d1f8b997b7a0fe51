#include "sim/faults.h"

#include <cstdio>

#include "protocol/frame.h"
#include "sim/scenario.h"
#include "sim/sentences.h"

namespace vantora::sim {

namespace {
constexpr const char* Names[FaultKindCount] = {"garbage", "badsum", "cut", "longfield", "silence", "hangup"};

uint8_t BodyChecksum(const std::string& s, size_t from, size_t to) {
    return XorChecksum(reinterpret_cast<const uint8_t*>(s.data()) + from, static_cast<int>(to - from));
}

// A sentence that a parser must refuse: a GGA whose time field is 40 characters long,
// or (odd variant) a well-formed GSA stretched to a 300-byte line, longer than any line buffer.
std::string LongFieldSentence(int variant) {
    if (variant % 2 == 0)
        return MakeSentence("GPGGA,ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn,,,,,0,00,,,M,,M,,", true);
    std::string body = "GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.5,0.9,1.2";
    // $ body *hh CR LF: pad the last field with zeros up to 300 bytes.
    body.insert(body.size() - 1, std::string(300 - (body.size() + 6), '0'));
    return MakeSentence(body, true);
}
}  // namespace

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
    for (int i = 0; i < FaultKindCount; ++i)
        if (name == Names[i]) return static_cast<FaultKind>(i);
    return std::nullopt;
}

const char* FaultName(FaultKind kind) {
    return Names[static_cast<int>(kind)];
}

FaultInjector::FaultInjector(const FaultOptions& options, uint32_t seed) : options_(options), seed_(seed) {}

bool FaultInjector::TakeHangup() {
    bool h = hangup_;
    hangup_ = false;
    return h;
}

std::string FaultInjector::Apply(std::string item, int64_t nowMs) {
    if (Silenced(nowMs)) return {};
    ++items_;
    if (options_.Kinds.empty() || options_.Every <= 0 || items_ % options_.Every != 0 || item.size() < 4)
        return item;
    FaultKind kind = options_.Kinds[(items_ / options_.Every - 1) % options_.Kinds.size()];
    ++counts_[static_cast<int>(kind)];
    switch (kind) {
        case FaultKind::Garbage: {
            std::string junk;
            int n = 8 + static_cast<int>(Noise(seed_, 0x6A, items_) * 17);
            for (int i = 0; i < n; ++i) junk += static_cast<char>(Noise(seed_, 0x6B, items_ * 64 + i) * 256);
            // Stray leaders too: a lone '%' or '$' must cost the host nothing but the junk.
            junk[0] = '%';
            junk[n / 2] = '$';
            // ... one of them right before the item, where it would take the item with it.
            junk[static_cast<size_t>(n - 1)] = items_ % 2 ? '%' : '$';
            return junk + item;
        }
        case FaultKind::BadSum:
            if (item[0] == '$') {
                size_t end = item.size() - 2;  // before CR LF
                size_t star = item.rfind('*');
                size_t bodyEnd = star != std::string::npos ? star : end;
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", BodyChecksum(item, 1, bodyEnd) ^ 0x5A);
                return item.substr(0, bodyEnd) + "*" + hex + "\r\n";
            }
            item[item.size() - 3] = static_cast<char>(item[item.size() - 3] ^ 0xFF);
            return item;
        case FaultKind::Cut:
            return item.substr(0, item.size() / 2);
        case FaultKind::LongField:
            return LongFieldSentence(static_cast<int>(longFields_++)) + item;
        case FaultKind::Silence:
            silentUntil_ = nowMs + SilenceMs;
            return {};
        case FaultKind::Hangup:
            hangup_ = true;
            return item;
    }
    return item;
}

}  // namespace vantora::sim
