#include "protocol/lexer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "protocol/frame.h"

namespace vantora {

namespace {

// What a byte does inside a sentence: printable text and CR belong to it, LF ends it, and
// anything else (a leader, a control or 8-bit byte) breaks it off.
enum SentenceByte : uint8_t { Breaks = 0, Text = 1, EndsLine = 2 };

struct SentenceTable {
    uint8_t c[256] = {};
    constexpr SentenceTable() {
        for (int b = 0x20; b < 0x7F; ++b) c[b] = Text;
        c[0x0D] = Text;
        c[0x0A] = EndsLine;
        c[static_cast<uint8_t>('$')] = Breaks;
        c[FrameMarker] = Breaks;
    }
};
constexpr SentenceTable SentenceBytes;

// Bytes of a sentence eight at a time: skips the leading run of printable characters other than
// leaders, which is most of every sentence; the byte loop decides the rest.
inline const uint8_t* SkipPlainText(const uint8_t* p, const uint8_t* limit) {
    constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
    for (; limit - p >= 8; p += 8) {
        uint64_t x;
        std::memcpy(&x, p, sizeof x);
        const uint64_t leader = x ^ (Ones * '$');  // '$' becomes 0, '%' becomes 1
        // Set in some byte when any byte is below 20h, above 7Eh, or a leader.
        const uint64_t stop = ((x - Ones * 0x20) & ~x) | (x + Ones) | x | ((leader - Ones * 2) & ~leader);
        if (stop & Highs) break;
    }
    return p;
}

inline bool IsLeader(uint8_t b) {
    return b == '$' || b == FrameMarker;
}

}  // namespace

void TLexer::Reset() {
    state_ = Ground;
    itemLength_ = 0;
    garbageRun_ = 0;
    requeuePending_ = false;
    held_ = false;
    replayPos_ = replayLength_ = 0;
}

int TLexer::Next(const uint8_t* data, int n, Item& item, bool& ended) {
    ended = false;
    if (held_) {  // the item that ended the garbage run before it
        held_ = false;
        item = Item{heldKind_, heldEnding_, item_, itemLength_};
        ended = true;
        return 0;
    }
    if (requeuePending_) {
        requeuePending_ = false;
        Requeue(replay_ + replayPos_, replayLength_ - replayPos_);
    }
    int used = 0;
    for (;;) {
        Step step;
        if (replayPos_ < replayLength_) {
            const uint8_t* q = replay_ + replayPos_;
            step = Lex(q, replay_ + replayLength_, item);
            replayPos_ = static_cast<int>(q - replay_);
            if (step == Rescan) Requeue(q, replayLength_ - replayPos_);
        } else {
            if (data == nullptr || used >= n) return used;
            const uint8_t* q = data + used;
            step = Lex(q, data + n, item);
            used = static_cast<int>(q - data);
            if (step == Rescan) Requeue(nullptr, 0);
        }
        if (step == Ended) {
            ended = true;
            return used;
        }
    }
}

bool TLexer::Abandon(Item& item) {
    if (requeuePending_ || held_) return false;  // what is queued comes first
    if (state_ == Ground) {
        if (garbageRun_ == 0) return false;
        EndItem(Garbage, Whole, item);
        return true;
    }
    const bool frame = state_ != InSentence;
    EndItem(frame ? Frame : Sentence, Abandoned, item);
    // A frame may have taken sentences for its payload: they are framed again at the next call.
    if (frame && itemLength_ > 1) requeuePending_ = true;
    return true;
}

TLexer::Step TLexer::EndItem(Type kind, End ending, Item& item) {
    item.Kind = kind;
    item.Ending = ending;
    item.Data = item_;
    item.Size = itemLength_;
    if (kind != Garbage) state_ = Ground;
    // A run of garbage (failed leaders included) is reported before the item that ends it.
    if (kind == Garbage || garbageRun_ > 0) {
        held_ = kind != Garbage;
        heldKind_ = kind;
        heldEnding_ = ending;
        item.Kind = Garbage;
        item.Ending = Whole;
        item.Size = garbageRun_;
        garbageRun_ = 0;
    }
    return Ended;
}

TLexer::Step TLexer::BadFrame() {
    ++badFrames_;
    return Rescan;
}

void TLexer::Requeue(const uint8_t* rest, int restLength) {
    // The failed item's leader is garbage; the bytes after it may hold items.
    const int tail = itemLength_ - 1;
    if (state_ != Ground) {  // not after an abandoned frame, whose bytes were reported
        ++garbageRun_;
        ++garbageBytes_;
    }
    if (restLength > 0) std::memmove(replay_ + tail, rest, static_cast<size_t>(restLength));
    if (tail > 0) std::memcpy(replay_, item_ + 1, static_cast<size_t>(tail));
    replayPos_ = 0;
    replayLength_ = tail + restLength;
    itemLength_ = 0;
    state_ = Ground;
}

TLexer::Step TLexer::Lex(const uint8_t*& p, const uint8_t* end, Item& item) {
    while (p < end) {
        switch (state_) {
            case Ground: {
                const uint8_t* q = p;
                while (q < end && !IsLeader(*q)) ++q;
                garbageRun_ += static_cast<int>(q - p);
                garbageBytes_ += q - p;
                p = q;
                if (q == end) return Exhausted;
                item_[0] = *p++;
                itemLength_ = 1;
                ++opened_;
                state_ = item_[0] == '$' ? InSentence : SecondMarker;
                break;
            }
            case InSentence: {
                // The run of text is found first and copied in one go: this is the hot path.
                const uint8_t* limit = p + std::min<ptrdiff_t>(end - p, MaxSentence - itemLength_);
                const uint8_t* q = SkipPlainText(p, limit);
                while (q < limit && SentenceBytes.c[*q] == Text) ++q;
                std::memcpy(item_ + itemLength_, p, static_cast<size_t>(q - p));
                itemLength_ += static_cast<int>(q - p);
                p = q;
                if (q == limit) {
                    if (itemLength_ >= MaxSentence) return EndItem(Sentence, Overlong, item);
                    return Exhausted;
                }
                if (SentenceBytes.c[*q] == Breaks) return EndItem(Sentence, Cut, item);
                item_[itemLength_++] = *p++;
                return EndItem(Sentence, Whole, item);
            }
            case SecondMarker:
                if (*p != FrameMarker) return Rescan;  // a lone '%': garbage
                item_[itemLength_++] = *p++;
                state_ = FirstId;
                break;
            case FirstId: {
                const uint8_t b = *p;
                if (b != IdAck && b != IdNak && b != IdCommand && b != IdReport) return BadFrame();
                item_[itemLength_++] = *p++;
                state_ = SecondId;
                break;
            }
            case SecondId: {
                const int index = TBinary::Lookup(item_[2], *p);
                if (index < 0) return BadFrame();
                item_[itemLength_++] = *p++;
                frameLength_ = 2 + BinaryMessageTable[index].Length + 3;
                state_ = FrameBody;
                break;
            }
            case FrameBody: {
                const int n = std::min(frameLength_ - itemLength_, static_cast<int>(end - p));
                std::memcpy(item_ + itemLength_, p, static_cast<size_t>(n));
                itemLength_ += n;
                p += n;
                if (itemLength_ < frameLength_) return Exhausted;
                // A frame whose CR LF is not where its length puts it was cut or shifted.
                if (item_[itemLength_ - 2] != 0x0D || item_[itemLength_ - 1] != 0x0A) return BadFrame();
                return EndItem(Frame, Whole, item);
            }
            default:
                state_ = Ground;
                break;
        }
    }
    return Exhausted;
}

}  // namespace vantora
