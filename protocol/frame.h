// The binary frame: "%%", two identifier bytes, payload, XOR checksum, CR LF.
#pragma once

#include <cstdint>
#include <string>

namespace vantora {

constexpr uint8_t FrameMarker = 0x25;   // '%'
constexpr uint8_t IdCommand = 0xF1;
constexpr uint8_t IdReport = 0xF2;
constexpr uint8_t IdAck = 0x06;
constexpr uint8_t IdNak = 0x15;
constexpr int MaxFrameLength = 256;

// XOR of count bytes from data, starting at 0; 0 when count <= 0.
uint8_t XorChecksum(const uint8_t* data, int count);

// Builds one frame into out (capacity cap): %% id1 id2 payload checksum CR LF.
// Returns the frame length (payloadLen + 7), or 0 when it does not fit.
int BuildFrame(uint8_t id1, uint8_t id2, const uint8_t* payload, int payloadLen, uint8_t* out, int cap);

// "%02x " per byte, as the Command field shows a sent frame.
std::string FormatFrameHex(const uint8_t* data, int len);

}  // namespace vantora
