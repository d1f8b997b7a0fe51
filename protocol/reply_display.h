// What the binary decoders ask of the window: one method per reply display.
// The receive thread implements it by running the window's display on the main thread;
// tests and the command-line tools implement it with recorders.
#pragma once

#include <cstdint>

namespace vantora {

class ReplyDisplay {
public:
    virtual ~ReplyDisplay() = default;
    virtual void ShowAck(uint8_t command) = 0;
    virtual void ShowNak(uint8_t command) = 0;
    virtual void ShowClockOffset() = 0;
    virtual void ShowRevision() = 0;
    virtual void ShowBuiltInTest() = 0;
    virtual void ShowEphemerisProgress() = 0;
    virtual void ShowAlmanacProgress() = 0;
    virtual void ShowModuleId() = 0;
    virtual void ShowNavigationSetting(const uint8_t* payload18) = 0;
    virtual void ShowSystemSetting(const uint8_t* payload48) = 0;
    virtual void ShowTraceStatus() = 0;
    // Not a display: a trace data record arrived (the receive thread counts them).
    virtual void TraceRecordReceived() = 0;
};

// Ignores every reply request; Base is ReplyDisplay or an interface built on it, so that a
// wider display can start from the same empty set. A base for recorders that care about a few.
template <class Base>
class NullReplies : public Base {
public:
    void ShowAck(uint8_t) override {}
    void ShowNak(uint8_t) override {}
    void ShowClockOffset() override {}
    void ShowRevision() override {}
    void ShowBuiltInTest() override {}
    void ShowEphemerisProgress() override {}
    void ShowAlmanacProgress() override {}
    void ShowModuleId() override {}
    void ShowNavigationSetting(const uint8_t*) override {}
    void ShowSystemSetting(const uint8_t*) override {}
    void ShowTraceStatus() override {}
    void TraceRecordReceived() override {}
};

using NullReplyDisplay = NullReplies<ReplyDisplay>;

}  // namespace vantora
