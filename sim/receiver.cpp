#include "sim/receiver.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/le_bytes.h"
#include "serial/baud_rates.h"
#include "sim/sentences.h"

namespace vantora::sim {

namespace {

struct Ellipsoid {
    double A, InvF;
};
// Ellipsoid indices that Set Datum accepts; 0 is WGS-84.
constexpr Ellipsoid Ellipsoids[] = {
    {6378137.0, 298.257223563},  // WGS-84
    {6378135.0, 298.26},         // WGS-72
    {6378137.0, 298.257222101},  // GRS-80
    {6378206.4, 294.9786982},    // Clarke 1866
    {6378388.0, 297.0},          // International 1924
    {6377397.155, 299.1528128},  // Bessel 1841
    {6377563.396, 299.3249646},  // Airy 1830
    {6378245.0, 298.3},          // Krassovsky 1940
};
constexpr int EllipsoidCount = sizeof(Ellipsoids) / sizeof(Ellipsoids[0]);
constexpr uint16_t UserEllipsoid = 0xFFFF;  // set by Set Extended Datum

constexpr int TraceSizeCode = Receiver::TraceCapacity / 65536;
constexpr size_t ProgramBlock = 16384;
constexpr char RevisionLabel[] = "VSIM 1.80";

}  // namespace

Receiver::Receiver(const Clock& clock, const ReceiverOptions& options)
    : clock_(clock),
      options_(options),
      startMs_(clock.NowMs()),
      scenario_(options.Seed, options.StartUnixMs),
      line_(options.Baud, options.Pace, startMs_),
      faults_(options.Faults, options.Seed) {
    FactoryDefault();
    moduleIds_[0] = static_cast<int32_t>(0x01000000u + options.Seed % 0x00FFFFFFu);
    moduleIds_[1] = 0;
    // A buffer recorded before power-on: one record a second, ending now.
    int preload = std::clamp(options.TraceRecords, 0, TraceCapacity);
    trace_.reserve(preload);
    for (int i = 0; i < preload; ++i) {
        ScenarioState st = scenario_.At(30000 + 1000ll * i, ScenarioView());
        st.UnixMs -= 1000ll * (preload + 30);
        trace_.push_back(MakeTraceEntry(st));
    }
}

void Receiver::FactoryDefault() {
    settings_ = ReceiverSettings{};
    settings_.BaudIndex = std::max(0, BaudIndexOf(options_.Baud));
    settings_.NmeaChecksum = options_.Checksum;
    settings_.OutputFormat = options_.Binary ? 3 : 1;
}

int64_t Receiver::Elapsed() const {
    return clock_.NowMs() - startMs_;
}

ScenarioSettings Receiver::ScenarioView() const {
    ScenarioSettings s;
    s.ElevationMask = settings_.ElevationMask;
    s.DopMaskMode = settings_.DopMaskMode;
    s.GdopLimit = settings_.Gdop;
    s.PdopLimit = settings_.Pdop;
    s.HdopLimit = settings_.Hdop;
    s.Differential = settings_.Dgps != 0;
    return s;
}

ScenarioState Receiver::State() const {
    return scenario_.At(Elapsed(), ScenarioView());
}

void Receiver::Feed(const uint8_t* data, size_t n) {
    line_.Receive(data, n);
}

std::string Receiver::Tick(size_t maxBytes) {
    int64_t now = clock_.NowMs();
    int64_t t = now - startMs_;
    ProcessInput(line_.TakeInput(now));
    if (phase_ != LoaderPhase::Off) {
        LoaderTick(t);
    } else {
        int64_t interval = 1000 / settings_.UpdateRate;
        // After a long stall (or a jump of the clock) the missed epochs are skipped.
        if (t - nextEpoch_ > 2000) nextEpoch_ = t - t % interval;
        while (nextEpoch_ <= t) {
            Epoch(nextEpoch_);
            nextEpoch_ += interval;
            ++epochIndex_;
        }
        if (reading_) EmitTraceRecords();
    }
    return line_.Release(now, maxBytes);
}

void Receiver::Send(const std::string& item) {
    line_.Queue(faults_.Apply(item, clock_.NowMs()));
}

void Receiver::SwitchRate(int rate) {
    line_.QueueRateChange(rate);
}

void Receiver::Epoch(int64_t t) {
    ScenarioState st = scenario_.At(t, ScenarioView());
    RecordTrace(st, t);
    if (reading_ || settings_.OutputFormat == 0) return;
    // A line that cannot keep up loses whole updates, as a receiver's full transmit buffer would.
    size_t limit = line_.Paced() ? static_cast<size_t>(line_.Rate() / 10) : 16384;
    if (line_.Backlog() > limit) return;
    if (settings_.OutputFormat >= 2) {
        for (const auto& f : {NavD0(st), NavD1(st), NavD2(st), NavD3(st), NavD4(st)}) Send(f);
        return;
    }
    auto due = [&](int slot) {
        int period = settings_.Periods[slot];
        return period > 0 && epochIndex_ % period == 0;
    };
    const bool gnss = options_.Gnss;
    auto send = [&](const std::string& body) { Send(MakeSentence(body, settings_.NmeaChecksum, options_.LfOnly)); };
    const bool v40 = options_.Nmea40;
    if (due(SlotGga)) send(gnss ? GnssGgaBody(st, v40) : GgaBody(st));
    if (due(SlotGll)) send(gnss ? GnssGllBody(st) : GllBody(st));
    if (due(SlotGsa))
        for (const auto& body : gnss ? GnssGsaBodies(st, v40) : std::vector<std::string>{GsaBody(st)}) send(body);
    if (due(SlotGsv))
        for (const auto& body : gnss ? GnssGsvBodies(st, v40) : GsvBodies(st)) send(body);
    if (due(SlotRmc)) send(gnss ? GnssRmcBody(st, v40) : RmcBody(st));
    if (due(SlotVtg)) send(gnss ? GnssVtgBody(st) : VtgBody(st));
    if (due(SlotZda)) {
        SentenceLocale loc{settings_.ZoneHours, settings_.ZoneMinutes, settings_.ZoneSeconds,
                           settings_.DstAdjust};
        send(gnss ? GnssZdaBody(st, loc) : ZdaBody(st, loc));
    }
}

// ---- command frames -------------------------------------------------------------------

int Receiver::FrameLength(uint8_t cmd) const {
    if (cmd == 0x72) return 12;  // load request
    if (cmd == 0x73) return 7;   // erase
    if (phase_ != LoaderPhase::Off) return 0;
    const CommandInfo* info = FindCommand(cmd);
    return info ? info->FrameLength : 0;
}

void Receiver::ProcessInput(const std::string& in) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
    for (size_t i = 0; i < in.size(); ++i) {
        bool data = phase_ == LoaderPhase::Erasing || phase_ == LoaderPhase::Erasing4100 ||
                    phase_ == LoaderPhase::Receiving || phase_ == LoaderPhase::Programming;
        if (data) {
            LoaderData(bytes + i, in.size() - i);
            return;
        }
        FrameByte(bytes[i]);
    }
}

void Receiver::FrameByte(uint8_t b) {
    switch (frameState_) {
        case 0:
            if (b == FrameMarker) frameState_ = 1;
            break;
        case 1:
            frameState_ = b == FrameMarker ? 2 : 0;
            break;
        case 2:
            if (b == IdCommand) {
                frame_[0] = b;
                frameCount_ = 1;
                frameState_ = 3;
            } else if (b != FrameMarker) {
                frameState_ = 0;
            }
            break;
        case 3:
            frame_[frameCount_++] = b;
            frameLength_ = FrameLength(b);
            // A command of unknown length: skip to its line end and refuse it.
            frameState_ = frameLength_ > 0 ? 4 : 5;
            break;
        case 4:
            frame_[frameCount_++] = b;
            if (frameCount_ == frameLength_ - 2) {
                frameState_ = 0;
                int body = frameLength_ - 5;  // identifier bytes and payload
                bool ok = frame_[body + 1] == 0x0D && frame_[body + 2] == 0x0A &&
                          XorChecksum(frame_, body) == frame_[body];
                if (!ok) {
                    if (phase_ == LoaderPhase::Off) Send(NakFrame(frame_[1]));
                    // A frame cut short may have the next one inside it: look again after its first byte.
                    uint8_t again[sizeof frame_];
                    int n = frameCount_ - 1;
                    std::memcpy(again, frame_ + 1, n);
                    for (int i = 0; i < n; ++i) FrameByte(again[i]);
                } else if (phase_ == LoaderPhase::Off && frame_[1] != 0x72) {
                    HandleCommand(frame_[1], frame_ + 2);
                } else {
                    HandleLoaderFrame(frame_[1], frame_ + 2);
                }
            }
            break;
        case 5:
            if (++frameCount_ > 256) frameState_ = 0;
            if (b == 0x0A) {
                frameState_ = 0;
                if (phase_ == LoaderPhase::Off) Send(NakFrame(frame_[1]));
            }
            break;
    }
}

void Receiver::HandleCommand(uint8_t cmd, const uint8_t* p) {
    const int64_t t = Elapsed();
    auto ack = [&] { Send(AckFrame(cmd)); };
    auto nak = [&] { Send(NakFrame(cmd)); };
    switch (cmd) {
        case 0x01: {
            bool allZero = std::all_of(p, p + 16, [](uint8_t v) { return v == 0; });
            if (allZero) {
                ack();
                EnterLoader(false, nullptr);
                return;
            }
            if (p[1] > StartTest) return nak();
            ack();
            Restart(p[1]);
            return;
        }
        case 0x02:
            if (p[0] > 1 || p[1] > 3) return nak();
            ack();
            if (p[0] == 0) {
                settings_.BaudIndex = p[1];
                SwitchRate(BaudRates[p[1]]);
            } else {
                settings_.Com2BaudIndex = p[1];
            }
            return;
        case 0x03: {
            uint16_t idx = le::U16(p);
            if (idx >= EllipsoidCount) return nak();
            ack();
            settings_.EllipsoidIndex = idx;
            settings_.SemiMajor = Ellipsoids[idx].A;
            settings_.InverseFlattening = Ellipsoids[idx].InvF;
            settings_.Dx = static_cast<int16_t>(le::U16(p + 2));
            settings_.Dy = static_cast<int16_t>(le::U16(p + 4));
            settings_.Dz = static_cast<int16_t>(le::U16(p + 6));
            return;
        }
        case 0x04:
            ack();
            settings_.NmeaChecksum = p[0] != 0;
            settings_.Periods[SlotRmc] = p[1];
            settings_.Periods[SlotVtg] = p[2];
            settings_.Periods[SlotGga] = p[3];
            settings_.Periods[SlotGsa] = p[4];
            settings_.Periods[SlotGsv] = p[5];
            settings_.Periods[SlotGll] = p[6];
            settings_.Periods[SlotZda] = p[7];
            return;
        case 0x05:
            ack();
            Send(Revision());
            return;
        case 0x06: {
            ack();
            Payload r(2);
            r.U16(0, static_cast<uint16_t>(State().ClockDrift));
            Send(Frame(IdReport, 0x82, r));
            return;
        }
        case 0x07: {
            ack();
            // Results: the test item, the channel count, RAM and ROM errors; bytes 8..15 reserved.
            Payload r(16);
            r.U16(0, p[0]);
            r.U16(2, 12);
            Send(Frame(IdReport, 0x81, r));
            return;
        }
        case 0x08:
            if (std::memcmp(p, "KVDT", 4) != 0) return nak();
            ack();
            FactoryDefault();
            SwitchRate(BaudRates[settings_.BaudIndex]);
            Restart(StartCold);
            return;
        case 0x09: {
            ack();
            ScenarioState st = State();
            int prns[MaxInView];
            const int n = std::clamp(st.InView, 0, MaxInView);
            for (int i = 0; i < n; ++i) prns[i] = st.Sats[i].Prn;
            std::sort(prns, prns + n);
            for (int i = 0; i < n; ++i) Send(EphemerisRecord(options_.Seed, n, prns[i]));
            return;
        }
        case 0x0B:
            ack();
            for (int prn = 1; prn <= 32; ++prn) Send(AlmanacRecord(options_.Seed, 32, prn));
            return;
        case 0x0D:
            if (p[0] > 1) return nak();
            ack();
            moduleIds_[p[0]] =
                static_cast<int32_t>(le::U16(p + 1) | static_cast<uint32_t>(le::U16(p + 3)) << 16);
            return;
        case 0x0E: {
            if (p[0] > 1) return nak();
            ack();
            Payload r(5);
            r.U8(0, p[0]);
            r.U32(1, static_cast<uint32_t>(moduleIds_[p[0]]));
            Send(Frame(IdReport, 0x85, r));
            return;
        }
        case 0x0F:
            if (p[0] > 3) return nak();
            ack();
            settings_.DopMaskMode = p[0];
            settings_.Gdop = p[1];
            settings_.Pdop = p[2];
            settings_.Hdop = p[3];
            return;
        case 0x10:
            if (p[0] > 90) return nak();
            ack();
            settings_.ElevationMask = p[0];
            return;
        case 0x11:
            if (p[0] > 2) return nak();
            ack();
            settings_.Dgps = p[0];
            return;
        case 0x12:
            if (p[0] > 2 || p[1] > 3 || p[2] < 1 || p[2] > 16) return nak();
            ack();
            settings_.PpsMode = p[0];
            settings_.PpsWidth = p[1];
            settings_.PpsMultiplier = p[2];
            return;
        case 0x13:
            if (p[0] > 3) return nak();  // raw data needs a privilege this receiver never grants
            ack();
            settings_.OutputFormat = p[0];
            return;
        case 0x17:
            ack();
            Send(NavigationSetting());
            return;
        case 0x18:
            ack();
            Send(SystemSetting());
            return;
        case 0x19: {
            auto h = static_cast<int8_t>(p[1]), m = static_cast<int8_t>(p[2]), s = static_cast<int8_t>(p[3]);
            if (h < -13 || h > 14 || m < -59 || m > 59 || s < -59 || s > 59 || p[4] > 2) return nak();
            ack();
            settings_.TimeLocalized = p[0] != 0;
            settings_.ZoneHours = h;
            settings_.ZoneMinutes = m;
            settings_.ZoneSeconds = s;
            settings_.DstAdjust = p[4];
            return;
        }
        case 0x1B: {
            double a = le::F64(p), invF = le::F64(p + 8);
            if (!(a > 6.0e6 && a < 7.0e6 && invF > 250.0 && invF < 350.0)) return nak();
            ack();
            settings_.EllipsoidIndex = UserEllipsoid;
            settings_.SemiMajor = a;
            settings_.InverseFlattening = invF;
            settings_.Dx = static_cast<int16_t>(le::U16(p + 16));
            settings_.Dy = static_cast<int16_t>(le::U16(p + 18));
            settings_.Dz = static_cast<int16_t>(le::U16(p + 20));
            return;
        }
        case 0x1D:
            if (p[0] > 1) return nak();
            if (p[0] == 0) {
                ack();
                recording_ = false;
                return;
            }
            if (!traceEnabled_ || reading_) return nak();
            ack();
            recording_ = true;
            traceDistance_ = le::U16(p + 2);
            tracePeriod_ = le::U16(p + 4);
            traceTime_ = le::U16(p + 6);
            traceStart_ = t;
            traceHasLast_ = false;
            return;
        case 0x1E:
            if (p[0] == 0) {
                ack();
                if (reading_) {
                    reading_ = false;
                    SwitchRate(BaudRates[settings_.BaudIndex]);
                }
                return;
            }
            // Binary records only; the NMEA form of a read is not offered by this receiver.
            if (p[0] > 2 || p[1] != 1 || p[5] > 3 || recording_ || reading_) return nak();
            ack();
            reading_ = true;
            readPosition_ = le::U16(p + 2);
            SwitchRate(BaudRates[p[5]]);
            return;
        case 0x1F:
            switch (p[0]) {
                case 0x00:
                    ack();
                    Send(TraceStatus());
                    return;
                case 0x01:
                    ack();
                    trace_.clear();
                    readPosition_ = 0;
                    return;
                case 0x09:
                    ack();
                    traceEnabled_ = true;
                    tracePowerOn_ = p[1] == 1;
                    return;
                case 0x0A:
                    ack();
                    traceEnabled_ = false;
                    recording_ = false;
                    return;
                default:
                    return nak();
            }
        case 0x20:
            if (p[0] < 1 || p[0] > 5) return nak();
            ack();
            settings_.UpdateRate = p[0];
            nextEpoch_ = t + (1000 / p[0]) - t % (1000 / p[0]);
            return;
        case 0x73:
            return nak();  // no loader is running
        default:
            return nak();
    }
}

void Receiver::Restart(int mode) {
    int64_t t = Elapsed();
    scenario_.Restart(t, mode);
    if (settings_.OutputFormat == 2) settings_.OutputFormat = 1;
    if (reading_) {
        reading_ = false;
        SwitchRate(BaudRates[settings_.BaudIndex]);
    }
    recording_ = traceEnabled_ && (recording_ || tracePowerOn_);
    nextEpoch_ = t;
    epochIndex_ = 0;
}

// ---- reports --------------------------------------------------------------------------

std::string Receiver::Revision() const {
    Payload r(22);
    for (size_t i = 0; i < sizeof RevisionLabel - 1; ++i) r.U8(static_cast<int>(i), RevisionLabel[i]);
    // day, month, year, 0 and second, minute, hour, 0: shown as yy/mm/dd and hh:mm:ss.
    r.U32(12, static_cast<uint32_t>(Bcd(17) | Bcd(5) << 8 | Bcd(24) << 16));
    r.U32(16, static_cast<uint32_t>(Bcd(0) | Bcd(0) << 8 | Bcd(12) << 16));
    r.U16(20, firmwareCrc_);
    return Frame(IdReport, 0x80, r);
}

std::string Receiver::NavigationSetting() const {
    Payload r(18);
    r.U8(0, settings_.UpdateRate);
    r.U8(1, settings_.DopMaskMode);
    r.U8(2, settings_.Gdop);
    r.U8(3, settings_.Pdop);
    r.U8(4, settings_.Hdop);
    r.U8(5, settings_.ElevationMask);
    r.U8(6, settings_.Dgps);
    r.U8(7, settings_.PpsMode);
    r.U8(8, settings_.PpsWidth);
    r.U8(9, settings_.PpsMultiplier);
    return Frame(IdReport, 0x86, r);
}

std::string Receiver::SystemSetting() const {
    Payload r(48);
    r.U8(0, settings_.BaudIndex);
    r.U8(1, settings_.Com2BaudIndex);
    r.U8(2, settings_.NmeaChecksum ? 1 : 0);
    r.U8(3, settings_.Periods[SlotRmc]);
    r.U8(4, settings_.Periods[SlotVtg]);
    r.U8(5, settings_.Periods[SlotGga]);
    r.U8(6, settings_.Periods[SlotGsa]);
    r.U8(7, settings_.Periods[SlotGsv]);
    r.U8(8, settings_.Periods[SlotGll]);
    r.U8(9, settings_.Periods[SlotZda]);
    r.U8(10, settings_.OutputFormat);
    r.U8(11, static_cast<uint8_t>(settings_.ZoneHours));
    r.U8(12, static_cast<uint8_t>(settings_.ZoneMinutes));
    r.U8(13, static_cast<uint8_t>(settings_.ZoneSeconds));
    r.U8(14, settings_.DstAdjust);
    r.U8(15, settings_.TimeLocalized ? 1 : 0);
    r.U16(16, settings_.EllipsoidIndex);
    r.F64(18, settings_.SemiMajor);
    r.F64(26, settings_.InverseFlattening);
    r.U16(34, static_cast<uint16_t>(settings_.Dx));
    r.U16(36, static_cast<uint16_t>(settings_.Dy));
    r.U16(38, static_cast<uint16_t>(settings_.Dz));
    return Frame(IdReport, 0x87, r);
}

std::string Receiver::TraceStatus() const {
    int state = reading_ ? 2 : recording_ ? 1 : 0;
    auto count = static_cast<uint32_t>(trace_.size());
    int percent = static_cast<int>(trace_.size() * 100 / TraceCapacity);
    if (count <= 0xFFFF) {
        Payload r(7);
        r.U8(0, state);
        r.U8(1, TraceSizeCode);
        r.U8(2, percent);
        r.U16(3, count);
        r.U16(5, static_cast<uint32_t>(readPosition_));
        return Frame(IdReport, 0x89, r);
    }
    Payload r(11);
    r.U8(0, state);
    r.U8(1, TraceSizeCode);
    r.U8(2, percent);
    r.U32(3, count);
    r.U32(7, static_cast<uint32_t>(readPosition_));
    return Frame(IdReport, 0x8A, r);
}

// ---- trace buffer ---------------------------------------------------------------------

void Receiver::RecordTrace(const ScenarioState& st, int64_t t) {
    if (!recording_) return;
    if (traceTime_ != 0 && traceTime_ != 0xFFFF && t - traceStart_ >= traceTime_ * 1000ll) {
        recording_ = false;
        return;
    }
    if (trace_.size() >= static_cast<size_t>(TraceCapacity)) {
        recording_ = false;
        return;
    }
    if (st.Fix == FixKind::None) return;
    bool due = !traceHasLast_;
    if (!due) {
        bool byDistance = traceDistance_ > 0 && st.TravelledM - traceLastTravelled_ >= traceDistance_;
        bool byTime = tracePeriod_ > 0 && t - traceLastMs_ >= tracePeriod_ * 1000ll;
        bool everySecond = traceDistance_ == 0 && tracePeriod_ == 0 && t - traceLastMs_ >= 1000;
        due = byDistance || byTime || everySecond;
    }
    if (!due) return;
    trace_.push_back(MakeTraceEntry(st));
    traceHasLast_ = true;
    traceLastMs_ = t;
    traceLastTravelled_ = st.TravelledM;
}

void Receiver::EmitTraceRecords() {
    // Keep only a little queued, so a stop command is obeyed soon.
    size_t keep = line_.Paced() ? std::max<size_t>(100, line_.Rate() / 40) : 8192;
    while (reading_ && line_.Backlog() < keep) {
        if (readPosition_ >= trace_.size()) {
            reading_ = false;
            SwitchRate(BaudRates[settings_.BaudIndex]);
            return;
        }
        Send(TraceRecordFrame(trace_[readPosition_++]));
    }
}

// ---- flash loader ---------------------------------------------------------------------

void Receiver::LoaderNotice(const char* body) {
    if (!options_.Loader.Silent) Send(MakeSentence(std::string("PQLN,") + body, true));
}

void Receiver::EnterLoader(bool direct, const uint8_t* request) {
    int64_t t = Elapsed();
    recording_ = false;
    reading_ = false;
    SwitchRate(LoaderRate);
    if (!direct) {
        // The host moves to the loader's rate a little after the restart: announce from then on.
        phase_ = LoaderPhase::Announcing;
        nextHello_ = t + 500;
        phaseUntil_ = t + 30000;
        return;
    }
    phase_ = LoaderPhase::WaitErase;  // marks the direct kind for the request below
    HandleLoaderFrame(0x72, request);
}

void Receiver::HandleLoaderFrame(uint8_t cmd, const uint8_t* p) {
    int64_t t = Elapsed();
    if (cmd == 0x72) {
        bool direct = phase_ == LoaderPhase::Off || phase_ == LoaderPhase::WaitErase;
        if (phase_ == LoaderPhase::Off) {
            EnterLoader(true, p);
            return;
        }
        if (phase_ != LoaderPhase::Announcing && !direct) return;
        // Address in 64 KiB units for the directly loaded kind, in KiB otherwise.
        uint32_t startKiB = static_cast<uint32_t>(le::U16(p + 1)) * (direct ? 64u : 1u);
        uint32_t sizeKiB = le::U16(p + 3);
        if (p[0] != 0x06 || options_.Loader.Nack || startKiB + sizeKiB > static_cast<uint32_t>(FlashKiB)) {
            LoaderNotice("4E,72");
            if (direct) {
                phase_ = LoaderPhase::Leaving;
                phaseUntil_ = t + 500;
            }
            return;
        }
        // The host always sends at least one packet.
        loadExpected_ = std::max<size_t>(sizeKiB * 1024u, 64);
        incoming_.clear();
        incoming_.reserve(loadExpected_);
        phase_ = direct ? LoaderPhase::AckingRequest : LoaderPhase::Erasing;
        phaseUntil_ = t + 300;
        return;
    }
    if (cmd == 0x73 && phase_ == LoaderPhase::WaitErase && loadExpected_ > 0) {
        phase_ = LoaderPhase::Erasing4100;
        phaseUntil_ = t + 300;
    }
}

void Receiver::LoaderData(const uint8_t* data, size_t n) {
    int64_t t = Elapsed();
    if (phase_ == LoaderPhase::Receiving) phaseUntil_ = t + 10000;
    while (n > 0 && incoming_.size() < loadExpected_) {
        size_t toBlock = ProgramBlock - incoming_.size() % ProgramBlock;
        size_t take = std::min({n, toBlock, loadExpected_ - incoming_.size()});
        incoming_.insert(incoming_.end(), data, data + take);
        data += take;
        n -= take;
        const bool finished = incoming_.size() == loadExpected_;
        if (!finished && incoming_.size() % ProgramBlock != 0) continue;
        // A block is programmed. Blocks land here one by one, so flash_ already holds this
        // load's earlier blocks; the first block of a load replaces the previous image.
        const size_t blockStart = (incoming_.size() - 1) / ProgramBlock * ProgramBlock;
        if (blockStart == 0) flash_.clear();
        flash_.insert(flash_.end(), incoming_.begin() + blockStart, incoming_.end());
        ++flashGeneration_;
        if (finished) {
            firmwareCrc_ = FlashCrc16(flash_.data(), flash_.size());
            phase_ = LoaderPhase::Reporting;
            phaseUntil_ = t + 200;
        } else {
            phase_ = LoaderPhase::Programming;
            phaseUntil_ = t + 50;
        }
    }
}

void Receiver::LoaderTick(int64_t t) {
    switch (phase_) {
        case LoaderPhase::Announcing:
            if (t >= phaseUntil_) return LeaveLoader();
            if (t >= nextHello_) {
                LoaderNotice("4D,21,HELLO");
                nextHello_ = t + 1000;
            }
            return;
        case LoaderPhase::Erasing:
        case LoaderPhase::Erasing4100:
            if (t < phaseUntil_) return;
            LoaderNotice(phase_ == LoaderPhase::Erasing ? "41,72" : "41,73");
            phase_ = LoaderPhase::Receiving;
            phaseUntil_ = t + 10000;
            return;
        case LoaderPhase::AckingRequest:
            if (t < phaseUntil_) return;
            LoaderNotice("41,72");
            phase_ = LoaderPhase::WaitErase;
            phaseUntil_ = t + 10000;
            return;
        case LoaderPhase::WaitErase:
        case LoaderPhase::Receiving:
        case LoaderPhase::Leaving:
            if (t >= phaseUntil_) LeaveLoader();
            return;
        case LoaderPhase::Programming:
            if (t < phaseUntil_) return;
            LoaderNotice("4D,21,DATARQST");
            phase_ = LoaderPhase::Receiving;
            phaseUntil_ = t + 10000;
            return;
        case LoaderPhase::Reporting: {
            if (t < phaseUntil_) return;
            char body[32];
            std::snprintf(body, sizeof body, "4D,20,%04X", options_.Loader.Crc.value_or(firmwareCrc_));
            LoaderNotice(body);
            phase_ = LoaderPhase::Leaving;
            phaseUntil_ = t + 1000;
            return;
        }
        case LoaderPhase::Off:
            return;
    }
}

void Receiver::LeaveLoader() {
    phase_ = LoaderPhase::Off;
    loadExpected_ = 0;
    incoming_.clear();
    SwitchRate(BaudRates[settings_.BaudIndex]);
    Restart(StartWarm);
}

}  // namespace vantora::sim
