#include "loader/loader_machine.h"

#include <algorithm>

#include "protocol/commands.h"
#include "protocol/loader_crc.h"
#include "serial/baud_rates.h"
#include "serial/serial_port.h"

namespace vantora {

namespace {

constexpr uint8_t CmdFactoryDefault = 0x08;

}  // namespace

LoaderMachine::LoaderMachine(CurrentPort& port, LoaderDisplay& display, MainThreadRunner& runner,
                             const Clock& clock, SleepFn sleep)
    : port_(port), display_(display), runner_(runner), clock_(clock), sleep_(std::move(sleep)) {}

void LoaderMachine::Request(RequestKind kind, std::optional<LoadJob> job) {
    std::lock_guard lock(requestMutex_);
    requests_.emplace_back(kind, std::move(job));
}

void LoaderMachine::TakeRequests() {
    decltype(requests_) requests;
    {
        std::lock_guard lock(requestMutex_);
        requests.swap(requests_);
    }
    for (auto& [kind, job] : requests) {
        switch (kind) {
            case Arm:
            case Disarm:
                active_.store(kind == Arm);
                break;
            case StartLoad:
                job_ = std::move(*job);
                deadline_ = 0;
                active_.store(true);
                state_.store(StateStartLoading);
                break;
            case Standby:
                state_.store(StateStandby);
                break;
            case LeaveInterrupt:
                standbyRequest_ = true;
                break;
        }
    }
}

void LoaderMachine::SetState(int state, int seconds) {
    deadline_ = seconds != 0 ? clock_.NowSeconds() + seconds : 0;
    state_.store(state);
    if (state == StateErasing || state == StateErasing4100) eraseTimedOut_ = false;
    passDelay_ = state == StateSending ? 0 : 1;
    Show([&] {
        if (state == StateStandby) display_.InitProgress(ProgressMaximum);
        display_.ShowState(state, LoaderStateText[state], LoaderStatusText[state], state > StateStandby);
    });
}

void LoaderMachine::End(LoadEnd end, int state, std::string detail) {
    LoadReport report;
    report.End = end;
    report.State = state;
    report.RequestSent = requestSent_;
    report.Detail = std::move(detail);
    report.Crc = crcValues_;
    report.BytesSent = requestSent_ ? offset_ : 0;
    report.SendingMs = sendStartMs_ >= 0 && sendEndMs_ >= sendStartMs_ ? sendEndMs_ - sendStartMs_ : 0;
    loadOpen_ = false;
    requestSent_ = false;
    Show([&] { display_.LoadEnded(report); });
}

void LoaderMachine::Pass() {
    TakeRequests();
    if (state_.load() == StateSetup) {
        // No image chosen yet: nothing to load, whatever the flag says.
        sleep_(IdleMs, true);
        return;
    }
    if (passDelay_ > 0 && !sleep_(passDelay_, false)) return;
    TakeRequests();
    if (!active_.load()) {
        OnUnarmed();
        return;
    }
    standbyRequest_ = false;

    std::shared_ptr<TSerialPort> port = port_.Get();
    const int64_t deadline = deadline_;
    if (deadline != 0 && clock_.NowSeconds() > deadline) {
        OnTimeOut(port.get());
        if (!sleep_(IdleMs, false)) return;
    }
    if (!port) {
        sleep_(IdleMs, true);
        return;
    }
    try {
        PassBody(*port);
    } catch (const PortWriteError& e) {
        OnPortFailure(e.what());
    }
}

void LoaderMachine::PassBody(TSerialPort& port) {
    // While sending, the receiver says nothing until a block is in; a read would only wait out
    // its time limit between packets. Whatever it does say stays queued for the next state.
    int n = state_.load() == StateSending ? 0 : port.rxData(buffer_, ReadSize);
    const uint8_t* p = buffer_;
    do {
        int result = 0;
        if (n > 0) {
            // The notices come through the same framing as the receive thread's sentences.
            TLexer::Item item;
            bool ended = false;
            int used = lexer_.Next(p, n, item, ended);
            if (used < 0 || used > n) used = n;
            if (ended && item.Kind == TLexer::Sentence && item.Ending == TLexer::Whole)
                result = nmea_.Decode(item.Data, item.Size);
            if (result == LoadAck) loadAnswer_ = 1;
            if (result == LoadNack) loadAnswer_ = -1;
            if (result == EraseAck) eraseAnswer_ = 1;
            p += used;
            n -= used;
        }
        const int before = state_.load();
        Step(port, result);
        // The rest of this read came at the loader's rate; the factory default listens at another.
        if (before != StateFactoryDefault && state_.load() == StateFactoryDefault) n = 0;
    } while (n > 0);
}

void LoaderMachine::Step(TSerialPort& port, int result) {
    switch (state_.load()) {
        case StateStandby:
        case StateFirmwareOk:
        case StateFailCrc:
        case StateFailRevision:
        case StateInterrupt:
            // A receiver announcing its loader to an armed loader is loaded at once.
            if (result == LoaderHello) SendRequest(port, true);
            break;
        case StateStartLoading:
            loadOpen_ = true;
            requestSent_ = false;
            crcValues_.reset();
            if (job_.Target == Target4100) {
                // That loader does not announce itself: the request goes out at once.
                SetState(StateWaitResponse, 0);
                SendRequest(port, false);
                break;
            }
            SetState(StateWaitResponse, job_.Target == TargetUsb ? 20 : 5);
            if (result == LoaderHello) SendRequest(port, false);
            break;
        case StateWaitResponse:
            if (result == LoaderHello) SendRequest(port, false);
            break;
        case StateWaitAck:
            if (loadAnswer_ == 1) {
                const auto erase = BuildEraseFrame();
                port.txData(erase.data(), static_cast<int>(erase.size()));
                SetState(StateErasing4100, 5);
            } else if (loadAnswer_ == -1) {
                SetState(StateStandby, 0);
                End(LoadEnd::Refused, StateWaitAck, "the receiver refused the load request");
            }
            break;
        case StateErasing:
            if (loadAnswer_ == 1 || eraseTimedOut_) {
                BeginSending();
            } else if (loadAnswer_ == -1) {
                SetState(StateStandby, 0);
                End(LoadEnd::Refused, StateErasing, "the receiver refused the load request");
            }
            break;
        case StateErasing4100:
            if (eraseAnswer_ == 1 || eraseTimedOut_) BeginSending();
            break;
        case StateSending:
            SendPacket(port);
            break;
        case StateProgramming:
            if (result == LoaderDataRequest) SetState(StateSending, 0);
            break;
        case StateCheckCrc:
            if (result == LoaderCrcReport) CheckCrc(port);
            break;
        case StateFactoryDefault:
            if (nmea_.SentenceSeen()) SendFactoryDefault(port);
            break;
        default:
            break;
    }
}

void LoaderMachine::SendRequest(TSerialPort& port, bool announced) {
    const int from = state_.load();
    if (announced) {
        // Not started by Write: the parameters are taken now, on the main thread.
        std::string refusal;
        std::optional<LoadJob> job;
        Show([&] { job = display_.SnapshotJob(refusal); });
        if (!job) {
            End(LoadEnd::Refused, from, refusal.empty() ? "no load parameters" : refusal);
            return;
        }
        job_ = std::move(*job);
        crcValues_.reset();
    }
    if (!job_.Image || job_.Image->Size <= 0) {
        // Streaming an empty buffer would only erase the receiver's firmware.
        if (!announced) {
            if (!AutoLoad()) active_.store(false);
            SetState(StateStandby, 0);
        }
        End(LoadEnd::Refused, from, "no firmware image");
        return;
    }
    Show([&] { display_.ShowResult(LoadResultText::None); });
    const auto request = BuildLoadRequest(job_.Fields);
    loadLimit_ = LoadLimitOf(job_.Fields.SizeWord);
    loadAnswer_ = 0;
    eraseAnswer_ = 0;
    offset_ = 0;
    sendStartMs_ = sendEndMs_ = -1;
    loadOpen_ = true;
    requestSent_ = true;
    port.txData(request.data(), static_cast<int>(request.size()));
    sleep_(RequestSettleMs, false);
    // Only a rate change needs the reset: its purge would also drop an answer that came at once.
    if (port.Baud() != LoaderBaud) port.Reset(LoaderBaud, 8, 0, 0, 2);
    SetState(job_.Target == Target4100 ? StateWaitAck : StateErasing, 5);
    // About 128 steps a load, each on a multiple of 64 bytes (1600 for 192 KiB).
    const uint32_t q = loadLimit_ / ProgressMaximum;
    progressStep_ = q + 64 - q % 64;
    Show([&] { display_.InitProgress(ProgressMaximum); });
}

void LoaderMachine::BeginSending() {
    SetState(StateSending, 0);
    offset_ = 0;
    crc_ = 0;
    sendStartMs_ = clock_.NowMs();
    sendEndMs_ = sendStartMs_;
}

void LoaderMachine::SendPacket(TSerialPort& port) {
    uint8_t packet[PacketSize];
    FillPacket(*job_.Image, offset_, packet);
    crc_ = LoaderCrc16(packet, PacketSize / 2, crc_);
    port.txData(packet, PacketSize);
    const bool step = offset_ > 0 && offset_ % progressStep_ == 0;
    offset_ += PacketSize;
    sendEndMs_ = clock_.NowMs();
    if (step) {
        Show([&] { display_.StepProgress(); });
        ShowTransfer();
    }
    if (offset_ >= loadLimit_) {
        ShowTransfer();
        SetState(StateCheckCrc, 15);
    } else if (offset_ % ProgramBlockSize == 0) {
        SetState(StateProgramming, 4);  // the receiver programs the 16 KiB just sent
    }
}

void LoaderMachine::ShowTransfer() {
    const int64_t elapsed = sendEndMs_ - sendStartMs_;
    const uint32_t sent = offset_;
    const uint32_t total = std::max<uint32_t>(loadLimit_, PacketSize);
    const double rate = elapsed > 0 ? sent * 1000.0 / static_cast<double>(elapsed) : 0.0;
    Show([&] { display_.ShowTransfer(elapsed, sent, total, rate); });
}

void LoaderMachine::CheckCrc(TSerialPort& port) {
    const LoaderCrcValues v{crc_, nmea_.ReportedCrc(), job_.Fields.ExpectedCrc};
    crcValues_ = v;
    sendEndMs_ = clock_.NowMs();  // the load took until the receiver had programmed it all
    Show([&] { display_.ShowCrc(v); });
    if (v.Host != v.Receiver || v.Receiver != v.Expected) {
        SetState(StateFailCrc, AutoLoad() ? 2 : 1);
        Show([&] { display_.ShowResult(LoadResultText::Fail); });
        End(LoadEnd::CrcMismatch, StateCheckCrc);
        return;
    }
    if (job_.RevisionCheck) {
        SetState(StateCheckRevision, 5);
    } else if (job_.FactoryDefault) {
        // The restarted firmware talks at the working rate: listen there for its first sentence.
        port.Reset(job_.WorkingBaud, 8, 0, 0, 2);
        SetState(StateFactoryDefault, 6);
        nmea_.Reset();
        nmea_.ClearFix();
    } else {
        SetState(StateFirmwareOk, 1);
        Show([&] { display_.ShowResult(LoadResultText::Pass); });
        End(LoadEnd::Passed, StateCheckCrc);
    }
}

void LoaderMachine::SendFactoryDefault(TSerialPort& port) {
    const BuiltCommand command = BuildCommand(CmdFactoryDefault, PanelValues::Defaults(), clock_);
    port.txData(command.Frame, command.Length);
    SetState(StateFirmwareOk, 1);
    Show([&] { display_.ShowResult(LoadResultText::Pass); });
    // The frame must be on the line before the rate changes (a rate change purges the port).
    sleep_(RequestSettleMs, false);
    port.Reset(LoaderBaud, 8, 0, 0, 2);
    End(LoadEnd::Passed, StateFactoryDefault);
}

void LoaderMachine::OnTimeOut(TSerialPort* port) {
    const int state = state_.load();
    switch (state) {
        case StateErasing:
        case StateErasing4100:
            eraseTimedOut_ = true;  // the load goes on: the area may well be erased
            return;
        case StateCheckCrc:
            SetState(StateFailCrc, 2);
            End(LoadEnd::TimedOut, state, "no CRC report from the receiver");
            return;
        case StateCheckRevision:
            SetState(StateFailRevision, 2);
            End(LoadEnd::RevisionFailed, state);
            return;
        default:
            break;
    }
    // Back to Standby; the loader listens at its own rate there again.
    if (state == StateFactoryDefault && port) port->Reset(LoaderBaud, 8, 0, 0, 2);
    if (!AutoLoad()) active_.store(false);
    SetState(StateStandby, 0);
    if (loadOpen_) End(LoadEnd::TimedOut, state, std::string("no answer in ") + LoaderStateText[state]);
}

void LoaderMachine::OnUnarmed() {
    const int state = state_.load();
    if (state <= StateStandby) {
        standbyRequest_ = false;
        sleep_(IdleMs, true);
        return;
    }
    // A load that was under way (or about to start) reports its interruption once.
    const bool report = loadOpen_ || state == StateStartLoading;
    if (AutoLoad()) {
        SetState(StateInterrupt, 0);
        if (report) End(LoadEnd::Interrupted, state);
        if (!sleep_(AutoReturnMs, false)) return;
        SetState(StateStandby, 0);
        active_.store(true);  // ready for the next receiver
        return;
    }
    if (std::exchange(standbyRequest_, false)) {
        SetState(StateStandby, 0);
        if (report) End(LoadEnd::Interrupted, state);
        return;
    }
    SetState(StateInterrupt, 0);
    if (report) End(LoadEnd::Interrupted, state);
    sleep_(IdleMs, true);
}

void LoaderMachine::OnPortFailure(const char* what) {
    const int state = state_.load();
    Show([&] { display_.ShowResult(LoadResultText::Fail); });
    if (!AutoLoad()) active_.store(false);
    SetState(StateStandby, 0);
    End(LoadEnd::PortFailed, state, what);
}

}  // namespace vantora
