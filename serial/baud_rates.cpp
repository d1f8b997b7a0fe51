#include "serial/baud_rates.h"

#include <termios.h>

namespace vantora {

namespace {

struct BaudSpeed {
    int baud;
    speed_t speed;
};

constexpr BaudSpeed BaudSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

}  // namespace

int BaudIndexOf(int baud) {
    for (int i = 0; i < BaudRateCount; ++i)
        if (BaudRates[i] == baud) return i;
    return -1;
}

bool SpeedOfBaud(int baud, unsigned& speed) {
    for (const BaudSpeed& entry : BaudSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

int BaudOfSpeed(unsigned speed) {
    for (const BaudSpeed& entry : BaudSpeeds)
        if (entry.speed == speed) return entry.baud;
    return 0;
}

}  // namespace vantora
