#include "loader/loader_display.h"

#include <cstdio>

namespace vantora {

const char* const LoaderStateText[LoaderStateCount] = {
    "Setup!",
    "Standby",
    "Start Loading...",
    "Wait For response...",
    "Wait For Ack...",
    "Erasing...",
    "Erasing...",
    "Sending...",
    "Programming...",
    "Check CRC...",
    "Check revision...",
    "F/W OK!",
    "Factory Default...",
    "FAIL CRC!",
    "FAIL REV!",
    "Interrupt!",
};

const char* const LoaderStatusText[LoaderStateCount] = {
    "Need setup!",
    "Ready to load!",
    "Start loading",
    "Wait for response...",
    "Wait for Acknowledge ...",
    "Erase Flash area",
    "Erase Flash area",
    "Sending data",
    "Waiting for receiver ack",
    "check CRC data",
    "check Revision data",
    "Program OK!",
    "Set Factory Default!",
    "CRC not match!",
    "Wrong revision!",
    "STOP!",
};

const char* ResultText(LoadResultText r) {
    switch (r) {
        case LoadResultText::Pass:
            return "PASS!";
        case LoadResultText::Fail:
            return "FAIL!";
        case LoadResultText::None:
            break;
    }
    return "";
}

const char* LoadEndName(LoadEnd e) {
    switch (e) {
        case LoadEnd::Passed:
            return "passed";
        case LoadEnd::CrcMismatch:
            return "CRC mismatch";
        case LoadEnd::RevisionFailed:
            return "revision check failed";
        case LoadEnd::TimedOut:
            return "timed out";
        case LoadEnd::Refused:
            return "refused";
        case LoadEnd::Interrupted:
            return "interrupted";
        case LoadEnd::PortFailed:
            return "port write failed";
    }
    return "";
}

namespace {

std::string Hex4(uint16_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

}  // namespace

std::string LoadReportLine(const LoadReport& r) {
    std::string crc;
    if (r.Crc) {
        crc = "CRC host " + Hex4(r.Crc->Host) + ", receiver " + Hex4(r.Crc->Receiver) + ", expected " +
              Hex4(r.Crc->Expected);
    }
    char transfer[96] = "";
    if (r.BytesSent > 0 && r.SendingMs > 0) {
        const double s = r.SendingMs / 1000.0;
        std::snprintf(transfer, sizeof transfer, "; %u bytes in %.2f s (%.0f bytes/s)", r.BytesSent, s,
                      r.BytesSent / s);
    } else if (r.BytesSent > 0) {
        std::snprintf(transfer, sizeof transfer, "; %u bytes", r.BytesSent);
    }
    switch (r.End) {
        case LoadEnd::Passed:
            return "PASS! " + crc + transfer +
                   (r.State == StateFactoryDefault ? "; factory default set" : "");
        case LoadEnd::CrcMismatch:
            return "FAIL! " + crc;
        case LoadEnd::RevisionFailed:
            return "FAIL! wrong revision";
        case LoadEnd::TimedOut:
            return "TIME-OUT: " + r.Detail;
        case LoadEnd::Refused:
            return "REFUSED: " + r.Detail;
        case LoadEnd::Interrupted:
            return std::string("INTERRUPTED in ") + LoaderStateText[r.State];
        case LoadEnd::PortFailed:
            return "PORT ERROR: " + r.Detail;
    }
    return "";
}

}  // namespace vantora
