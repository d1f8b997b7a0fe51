#include "loader/loader_display.h"

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

}  // namespace vantora
