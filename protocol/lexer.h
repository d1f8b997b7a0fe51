// The one framing layer: cuts the received byte stream into whole NMEA sentences, whole
// binary frames and runs of garbage, without decoding them. A leader that cannot start a
// valid item, or an item broken off by the next leader, costs only that item: framing
// resumes at the next possible leader, so a stray byte never swallows what follows.
#pragma once

#include <cstdint>

#include "protocol/binary.h"
#include "protocol/nmea.h"

namespace vantora {

class TLexer {
public:
    enum Type { Sentence, Frame, Garbage };
    // How an item ended: at its own end, broken off (by a leader or a byte no sentence holds),
    // longer than any sentence, or given up by the caller (a pause, the end of the stream).
    enum End { Whole, Cut, Overlong, Abandoned };

    struct Item {
        Type Kind;
        End Ending;
        const uint8_t* Data;  // sentences and frames: the bytes; valid until the next call
        int Size;             // garbage: the run's length
    };

    static constexpr int MaxSentence = TNmea::MaxLine;
    static constexpr int MaxFrame = 2 + TBinary::BufferSize + 3;  // "%%", ids and payload, checksum, CR LF

    // Takes bytes until an item ends; returns how many were taken. When ended is false, all n
    // were taken. Call again with the rest after each ended item.
    int Next(const uint8_t* data, int n, Item& item, bool& ended);
    // Ends what is open (an item, or a run of garbage), as a pause or the end of the stream
    // does; false when nothing was. A frame's later bytes are framed again.
    bool Abandon(Item& item);
    bool ItemOpen() const { return state_ != Ground; }
    // Counts items begun: tells a caller that the open item is a new one.
    uint32_t ItemsOpened() const { return opened_; }
    int64_t GarbageBytes() const { return garbageBytes_; }
    int64_t BadFrames() const { return badFrames_; }
    void Reset();

private:
    enum State { Ground, InSentence, SecondMarker, FirstId, SecondId, FrameBody };
    enum Step { Exhausted, Ended, Rescan };

    Step Lex(const uint8_t*& p, const uint8_t* end, Item& item);
    Step EndItem(Type kind, End ending, Item& item);
    Step BadFrame();
    // Frames again the bytes of a failed item after its leader, then rest.
    void Requeue(const uint8_t* rest, int restLength);

    int state_ = Ground;
    uint8_t item_[MaxFrame] = {};
    int itemLength_ = 0;
    int frameLength_ = 0;
    int garbageRun_ = 0;
    bool requeuePending_ = false;
    bool held_ = false;
    Type heldKind_ = Sentence;
    End heldEnding_ = Whole;
    uint8_t replay_[MaxFrame] = {};
    int replayPos_ = 0;
    int replayLength_ = 0;
    uint32_t opened_ = 0;
    int64_t garbageBytes_ = 0;
    int64_t badFrames_ = 0;
};

}  // namespace vantora
