// The receiver's 32 commands: frames built from the values of the command panels.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"

namespace vantora {

struct CommandInfo {
    int Number;            // 1..32
    const char* TreeText;  // "Restart(01h)"
    int Level;             // privilege level needed to list it
    const char* Panel;     // "pnRestart"
    int FrameLength;       // 0: builds no frame
};
extern const CommandInfo CommandTable[32];
const CommandInfo* FindCommand(int number);

enum class ControlKind { Text, Item, Check };

// A panel control that a builder reads, with the form's default.
struct ControlInfo {
    const char* Name;
    ControlKind Kind;
    const char* DefaultText;  // edits
    int DefaultValue;         // radio groups: item index; check boxes: 0 or 1
    int Items;                // radio groups: number of items
};
const ControlInfo* FindControl(const std::string& name);
// Every control that a builder reads, in panel order.
const std::vector<ControlInfo>& ControlTable();
// The controls that the builder of command cmd reads, in payload order; empty for none.
std::vector<const ControlInfo*> CommandControls(int cmd);

// The panel controls' values under their control names: edit texts, radio-group item
// indices and check-box states. Defaults() holds the form's defaults; a known control
// that was never set reads as its default, an unknown one as "", 0 or false.
class PanelValues {
  public:
    static PanelValues Defaults();

    std::string Text(const std::string& control) const;
    int Item(const std::string& control) const;
    bool Checked(const std::string& control) const;
    void SetText(const std::string& control, const std::string& text);
    void SetItem(const std::string& control, int index);
    void SetChecked(const std::string& control, bool checked);

    // The kind of a known control, nullopt for a name no panel has.
    static std::optional<ControlKind> KindOf(const std::string& control);
    // Sets a known control from text (an item index of the group's list, or 0/1/true/false
    // for a check box, any text for an edit); false with a message for an unknown control
    // or a value of the wrong form.
    bool Assign(const std::string& control, const std::string& value, std::string& error);

  private:
    std::map<std::string, std::string> texts_;
    std::map<std::string, int> items_;
    std::map<std::string, bool> checks_;
};

// Text-to-number conversions of the panels. The strict ones and IntegerOr take an optional
// sign and decimal digits only (no blanks, no hex); a value outside 64 bits is not valid.
std::optional<int64_t> StrictInteger(const std::string& text);
// Optional sign, digits with an optional '.' fraction, optional exponent; finite values only.
std::optional<double> StrictReal(const std::string& text);
int64_t IntegerOr(const std::string& text, int64_t fallback);
// Blanks, an optional sign, then the longest run of digits; 0 when there is none.
// Saturates at the 64-bit limits.
int64_t LeadingNumber(const std::string& text);
// ±DDMM (or ±DDDMM) to hundredths of a degree: 4913 -> 4921, -12306 -> -12310.
int32_t DegMinToHundredths(int32_t v);

// A strict conversion that failed: the control and its text.
struct ConversionError {
    std::string Control;
    std::string Text;
    bool Real = false;            // a floating-point field
    std::string Message() const;  // "RSTyear: 'abc' is not a valid integer"
};

// What the window does besides sending; applied by whoever owns the state.
struct SendEffects {
    bool UpdateNmeaConfig = false;  // 04h: words 1..7 := periods, word 9 low byte := checksum flag
    int32_t NmeaPeriods[7] = {};    // GGA, GLL, GSA, GSV, RMC, VTG, ZDA (full values)
    bool NmeaChecksum = false;
    bool ClearRevision = false;           // 05h
    bool ClearClockOffset = false;        // 06h
    bool ClearTestResults = false;        // 07h
    bool ClearEphemerisProgress = false;  // 09h: count and mask to 0 before sending
    bool ClearAlmanacProgress = false;    // 0Bh
    std::optional<bool> TraceReadActive;  // 1Eh
};

struct BuiltCommand {
    uint8_t Frame[MaxFrameLength] = {};
    int Length = 0;  // 0: nothing to send
    SendEffects Effects;
    std::optional<ConversionError> Error;  // set: nothing is built, nothing must be sent
    // Values the frame carries other than written: wrapped to the field's width, cut to their
    // leading digits or replaced by a default ("RSTmonth: 300 does not fit ...").
    std::vector<std::string> Changes;
};

// Builds the frame of command number cmd (0..32) from the panel values. The clock gives
// the calendar time that Set ID sends as a production ID. Any other number builds nothing.
BuiltCommand BuildCommand(int cmd, const PanelValues& values, const Clock& clock);

// Applies the NMEA part of the effects to the window's configuration words.
void ApplyNmeaEffects(const SendEffects& effects, NmeaConfig& config);

}  // namespace vantora
