// Trace conversion: finds the trace data records in a raw trace file and writes one text line per
// record, with the position either as earth-centred coordinates or as latitude, longitude and
// height; optionally also a GPX track of the records' positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "protocol/frame.h"

namespace vantora {

constexpr const char* TraceRawFileName = "tracelog.tmp";
constexpr const char* TraceTextFileName = "tracedata.log";

// "%%", identifier bytes, 18 payload bytes, checksum, CR LF.
constexpr int TraceFrameLength = 25;
constexpr int TracePayloadLength = 18;
constexpr uint8_t TraceRecordId = 0x88;

// Radians to degrees exactly as the stored factor has it (not the full-precision 180/pi), so the
// geodetic lines agree with files written before.
constexpr double TraceDegreesPerRadian = 57.2957795131;

// Item index of the "Convert type" radio group.
enum class TraceForm { Ecef = 0, Geodetic = 1 };

struct TraceRecord {
    uint32_t Word = 0;  // bits 20..31 and 0..19 are the first two columns
    int32_t X = 0;      // metres, earth-centred earth-fixed
    int32_t Y = 0;
    int32_t Z = 0;
    uint16_t Flags = 0;  // AND 2FFh, bit 13 and bit 12 are the last three columns
};

struct Geodetic {
    double Latitude = 0;   // radians
    double Longitude = 0;  // radians
    double Height = 0;     // metres above the ellipsoid
};

// Closed-form conversion on WGS-84 with the stored constants.
Geodetic EcefToGeodetic(double x, double y, double z);

// The record's position as the geodetic line and the GPX track show it.
struct TracePosition {
    double LatitudeDeg = 0;
    double LongitudeDeg = 0;
    double Height = 0;
};
TracePosition TraceRecordPosition(const TraceRecord& r);

// True when the TraceFrameLength bytes at p are a trace data record frame with a good checksum.
bool DecodeTraceFrame(const uint8_t* p, TraceRecord& r);

// Scans data[0..n) for record frames, calling onRecord(const TraceRecord&) for each in order.
// A failed candidate never hides a record starting inside it: the scan goes on at the byte after
// the candidate's first "%". Returns the offset of the first byte that may still start a record
// cut by the end of data (n when none): the caller puts data[ret..n) in front of the next block.
// With atEnd the tail cannot grow any more and n is returned.
template <class OnRecord>
size_t ScanTraceRecords(const uint8_t* data, size_t n, bool atEnd, OnRecord&& onRecord) {
    size_t i = 0;
    while (i < n) {
        const void* hit = std::memchr(data + i, FrameMarker, n - i);
        if (!hit) return n;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (n - i < static_cast<size_t>(TraceFrameLength)) return atEnd ? n : i;
        TraceRecord r;
        if (DecodeTraceFrame(data + i, r)) {
            onRecord(r);
            i += TraceFrameLength;
        } else {
            ++i;
        }
    }
    return n;
}

// Formats one line of the text file, "%d, %d, %d, %d, %d, %d, %d, %d\n" (ECEF) or
// "%d, %d, %f, %f, %f, %d, %d, %d\n" (geodetic), into out, which has room for TraceLineCapacity
// bytes (far more than any line needs); returns its length including the line feed, 0 for a form
// other than the two.
constexpr int TraceLineCapacity = 512;
int FormatTraceLine(const TraceRecord& r, TraceForm form, char* out);

// done and total count bytes of the raw file; returning false stops the conversion.
using TraceProgress = std::function<bool(int64_t done, int64_t total)>;

enum class ConvertStatus { Ok, Cancelled, Failed };

struct TraceResult {
    ConvertStatus Status = ConvertStatus::Failed;
    int64_t Records = 0;
    int64_t BytesRead = 0;
    bool Ok() const { return Status == ConvertStatus::Ok; }
};

// Converts the raw file in into the text file out (created or replaced), one line per record in
// the given form, and, when gpxOut is not empty, a GPX 1.1 track with one point per record.
// Ok only when every byte was written and the files closed; an output that is the input file
// or the other output is refused before anything is opened. Outputs are replaced only when the
// conversion succeeds: a failed or cancelled one leaves them as they were.
TraceResult ConvertTrace(const std::string& in, const std::string& out, TraceForm form,
                         const TraceProgress& progress, std::string& error, const std::string& gpxOut = {});

}  // namespace vantora
