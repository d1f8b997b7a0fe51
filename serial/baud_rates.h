// The receiver's rate table and the terminal's speed codes: the one place that says which
// rates the link runs at and how a rate is set on a terminal.
#pragma once

namespace vantora {

constexpr int BaudRateCount = 5;
// 4800 .. 38400 are the receiver's working rates (indices 0..3), 115200 the loader's.
inline constexpr int BaudRates[BaudRateCount] = {4800, 9600, 19200, 38400, 115200};
constexpr int WorkingBaudCount = 4;
constexpr int LoaderBaudIndex = 4;
constexpr int LoaderBaud = BaudRates[LoaderBaudIndex];

// Index of baud in BaudRates; -1 when it is not one of them.
int BaudIndexOf(int baud);

// A terminal's speed code (B4800 ...) for a rate and back; false / 0 for a rate that has no code.
bool SpeedOfBaud(int baud, unsigned& speed);
int BaudOfSpeed(unsigned speed);

}  // namespace vantora
