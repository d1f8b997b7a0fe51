#include "logging/trace_convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "logging/raw_log.h"
#include "protocol/le_bytes.h"

namespace vantora {

namespace {

namespace fs = std::filesystem;

// WGS-84 as stored; e'^2*b and e^2*a are kept precomputed as they were.
constexpr double SemiMajor = 6378137.0;
constexpr double SemiMinor = 6356752.314245179;
constexpr double EccSquared = 0.006694379990141317;
constexpr double SecondEccSquaredTimesB = 42841.31151331357;
constexpr double EccSquaredTimesA = 42697.67270717997;
constexpr double PolarLatitude = 1.5707963267949;

constexpr size_t ReadBlock = 1 << 20;
constexpr size_t WriteBlock = 1 << 20;

// Regular files only: a device such as /dev/null may take both outputs.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string Failure(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// The same file for a and b, also when neither exists yet (both would be created as one).
bool SamePlace(const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(a, ea), pb = fs::weakly_canonical(b, eb);
    return SameFile(a, b) || (!ea && !eb && pa == pb);
}

// Output through a large buffer; every write and the close are checked, the first failure sticks.
// A file is written under a temporary name beside it and renamed into place by Finish, so a
// failed or cancelled conversion leaves the old file whole; a device is written directly.
class BufferedOut {
public:
    ~BufferedOut() {
        if (!temp_.empty()) {
            file_.Close();
            ::unlink(temp_.c_str());
        }
    }
    bool Open(const std::string& path, std::string& error) {
        buf_.reset(new char[WriteBlock]);
        struct stat st;
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) return file_.Open(path, error);
        std::error_code ec;
        final_ = fs::weakly_canonical(path, ec).string();  // a link keeps pointing at the new file
        if (ec) final_ = path;
        temp_ = final_ + ".tmp" + std::to_string(::getpid());
        if (!file_.Open(temp_, error)) {
            temp_.clear();
            error = Failure("Cannot write", path);
            return false;
        }
        if (exists) ::chmod(temp_.c_str(), st.st_mode & 07777);  // the new file keeps the old one's mode
        return true;
    }
    // Room for at least need bytes (need <= WriteBlock); nullptr after a failed write.
    char* Space(size_t need) {
        if (failed_) return nullptr;
        if (WriteBlock - used_ < need && !Flush()) return nullptr;
        return buf_.get() + used_;
    }
    void Commit(size_t n) { used_ += n; }
    bool Put(const char* s) {
        const size_t n = std::strlen(s);
        char* p = Space(n);
        if (!p) return false;
        std::memcpy(p, s, n);
        used_ += n;
        return true;
    }
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }
    // Flushes and closes; false (with Error) when any write or the close failed.
    bool Finish() {
        if (!Flush()) return false;
        if (!file_.Close()) return Fail();
        return true;
    }
    // Puts the finished file in place of the old one.
    bool Commit() {
        if (temp_.empty()) return true;
        if (::rename(temp_.c_str(), final_.c_str()) != 0) return Fail();
        temp_.clear();
        return true;
    }

private:
    bool Flush() {
        if (failed_) return false;
        if (used_ > 0 && !file_.Append(reinterpret_cast<const uint8_t*>(buf_.get()), static_cast<int>(used_)))
            return Fail();
        used_ = 0;
        return true;
    }
    bool Fail() {
        if (!failed_) error_ = Failure("Cannot write", final_.empty() ? file_.Path() : final_);
        failed_ = true;
        return false;
    }

    RawLog file_;
    std::string final_, temp_;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    bool failed_ = false;
    std::string error_;
};

// The raw file, kept open across the start of the conversion so that outputs can be compared with it.
class RawInput {
public:
    ~RawInput() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open(const std::string& path, std::string& error) {
        path_ = path;
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0 || ::fstat(fd_, &st_) != 0) {
            error = Failure("Cannot read", path);
            return false;
        }
        if (S_ISDIR(st_.st_mode)) {
            errno = EISDIR;
            error = Failure("Cannot read", path);
            return false;
        }
        return true;
    }
    int64_t Size() const { return S_ISREG(st_.st_mode) ? static_cast<int64_t>(st_.st_size) : 0; }
    // True when path names this very file (so creating it would wipe the data being read).
    bool SameFile(const std::string& path) const {
        struct stat st;
        return S_ISREG(st_.st_mode) && ::stat(path.c_str(), &st) == 0 && st.st_dev == st_.st_dev &&
               st.st_ino == st_.st_ino;
    }

    // Reads the file in bounded blocks, carrying a record cut by a block end into the next block.
    // onRecord returns false to stop (the caller keeps its own reason).
    template <class OnRecord>
    TraceResult Scan(const TraceProgress& progress, std::string& error, OnRecord&& onRecord) {
        TraceResult result;
        std::unique_ptr<uint8_t[]> buf(new uint8_t[ReadBlock + TraceFrameLength]);
        const int64_t total = Size();
        size_t carry = 0;
        bool stop = false;
        for (;;) {
            const ssize_t got = ::read(fd_, buf.get() + carry, ReadBlock);
            if (got < 0) {
                if (errno == EINTR) continue;
                error = Failure("Cannot read", path_);
                return result;
            }
            const size_t n = carry + static_cast<size_t>(got);
            const size_t rest = ScanTraceRecords(buf.get(), n, got == 0, [&](const TraceRecord& r) {
                if (stop) return;
                if (!onRecord(r)) {
                    stop = true;
                    return;
                }
                ++result.Records;
            });
            if (stop) return result;
            carry = n - rest;
            std::memmove(buf.get(), buf.get() + rest, carry);
            result.BytesRead += got;
            if (got == 0) break;
            if (progress && !progress(result.BytesRead, std::max(total, result.BytesRead))) {
                result.Status = ConvertStatus::Cancelled;
                return result;
            }
        }
        result.Status = ConvertStatus::Ok;
        return result;
    }

private:
    int fd_ = -1;
    std::string path_;
    struct stat st_ {};
};

// The columns as "%d, " and "%f, " print them; to_chars gives the same exact, correctly rounded
// digits several times faster, which matters with millions of records.
char* PutInt(char* p, char* end, int v) {
    p = std::to_chars(p, end, v).ptr;
    *p++ = ',';
    *p++ = ' ';
    return p;
}

char* Fixed(char* p, char* end, double v) {
    if (!std::isfinite(v)) return p + std::snprintf(p, static_cast<size_t>(end - p), "%f", v);
    const std::to_chars_result r = std::to_chars(p, end, v, std::chars_format::fixed, 6);
    return r.ec == std::errc() ? r.ptr : p;
}

char* PutFixed(char* p, char* end, double v) {
    p = Fixed(p, end, v);
    *p++ = ',';
    *p++ = ' ';
    return p;
}

char* PutText(char* p, const char* s) {
    const size_t n = std::strlen(s);
    std::memcpy(p, s, n);
    return p + n;
}

void WriteGpxPoint(BufferedOut& gpx, const TraceRecord& r) {
    const TracePosition pos = TraceRecordPosition(r);
    // GPX longitudes run from -180 inclusive to 180 exclusive; 180 is written as its twin -180.
    const double lon = pos.LongitudeDeg >= 179.9999995 ? pos.LongitudeDeg - 360.0 : pos.LongitudeDeg;
    char* const start = gpx.Space(TraceLineCapacity);
    if (!start) return;
    char* const end = start + TraceLineCapacity;
    char* p = PutText(start, "<trkpt lat=\"");
    p = Fixed(p, end, pos.LatitudeDeg);
    p = PutText(p, "\" lon=\"");
    p = Fixed(p, end, lon);
    p = PutText(p, "\"><ele>");
    p = Fixed(p, end, pos.Height);
    p = PutText(p, "</ele></trkpt>\n");
    gpx.Commit(static_cast<size_t>(p - start));
}

}  // namespace

Geodetic EcefToGeodetic(double x, double y, double z) {
    Geodetic g;
    const double p2 = x * x + y * y;
    if (p2 > 1e-10) {
        g.Longitude = std::atan2(y, x);
        const double p = std::sqrt(p2);
        const double s = SemiMajor * z;
        const double c = SemiMinor * p;
        const double r = std::sqrt(s * s + c * c);
        const double sinT = s / r;
        const double cosT = c / r;
        g.Latitude = std::atan((z + SecondEccSquaredTimesB * sinT * sinT * sinT) /
                               (p - EccSquaredTimesA * cosT * cosT * cosT));
        const double sinLat = std::sin(g.Latitude);
        const double n = SemiMajor / std::sqrt(1.0 - EccSquared * sinLat * sinLat);
        g.Height = p / std::cos(g.Latitude) - n;
    } else {
        g.Longitude = 0;
        g.Latitude = z >= 0 ? PolarLatitude : -PolarLatitude;
        g.Height = std::fabs(z) - SemiMinor;
    }
    return g;
}

TracePosition TraceRecordPosition(const TraceRecord& r) {
    const Geodetic g = EcefToGeodetic(r.X, r.Y, r.Z);
    return {g.Latitude * TraceDegreesPerRadian, g.Longitude * TraceDegreesPerRadian, g.Height};
}

bool DecodeTraceFrame(const uint8_t* p, TraceRecord& r) {
    if (p[0] != FrameMarker || p[1] != FrameMarker || p[3] != TraceRecordId) return false;
    if (p[2] != IdReport && p[2] != IdAck && p[2] != IdNak && p[2] != IdCommand) return false;
    if (p[23] != 0x0D || p[24] != 0x0A) return false;
    if (XorChecksum(p + 2, TracePayloadLength + 2) != p[22]) return false;
    const uint8_t* q = p + 4;
    r.Word = le::U32(q);
    r.X = static_cast<int32_t>(le::U32(q + 4));
    r.Y = static_cast<int32_t>(le::U32(q + 8));
    r.Z = static_cast<int32_t>(le::U32(q + 12));
    r.Flags = le::U16(q + 16);
    return true;
}

int FormatTraceLine(const TraceRecord& r, TraceForm form, char* out) {
    // Another convert type writes nothing. The longest line is about 100 bytes: even for points
    // deep inside the earth |height| stays below 1e26 m.
    if (form != TraceForm::Ecef && form != TraceForm::Geodetic) return 0;
    char* const end = out + TraceLineCapacity;
    char* p = PutInt(out, end, static_cast<int>(r.Word >> 20));
    p = PutInt(p, end, static_cast<int>(r.Word & 0xFFFFF));
    if (form == TraceForm::Ecef) {
        p = PutInt(p, end, r.X);
        p = PutInt(p, end, r.Y);
        p = PutInt(p, end, r.Z);
    } else {
        const TracePosition pos = TraceRecordPosition(r);
        p = PutFixed(p, end, pos.LatitudeDeg);
        p = PutFixed(p, end, pos.LongitudeDeg);
        p = PutFixed(p, end, pos.Height);
    }
    p = PutInt(p, end, r.Flags & 0x2FF);
    p = PutInt(p, end, (r.Flags >> 13) & 1);
    p = std::to_chars(p, end, (r.Flags >> 12) & 1).ptr;
    *p++ = '\n';
    return static_cast<int>(p - out);
}

TraceResult ConvertTrace(const std::string& inPath, const std::string& outPath, TraceForm form,
                         const TraceProgress& progress, std::string& error, const std::string& gpxPath) {
    RawInput in;
    if (!in.Open(inPath, error)) return {};
    // Creating an output truncates it: it must be neither the raw file nor the other output.
    if (in.SameFile(outPath)) {
        error = "Cannot write " + outPath + ": it is the raw file being converted";
        return {};
    }
    const bool withGpx = !gpxPath.empty();
    if (withGpx && in.SameFile(gpxPath)) {
        error = "Cannot write " + gpxPath + ": it is the raw file being converted";
        return {};
    }
    if (withGpx && SamePlace(gpxPath, outPath)) {
        error = "Cannot write " + gpxPath + ": it is also the text output";
        return {};
    }
    BufferedOut out, gpx;
    if (!out.Open(outPath, error)) return {};
    if (withGpx) {
        if (!gpx.Open(gpxPath, error)) return {};
        gpx.Put(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<gpx version=\"1.1\" creator=\"vantora-trace\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
            "<trk>\n<trkseg>\n");
    }

    TraceResult result = in.Scan(progress, error, [&](const TraceRecord& r) {
        char* p = out.Space(TraceLineCapacity);
        if (!p) return false;
        out.Commit(FormatTraceLine(r, form, p));
        if (withGpx) {
            WriteGpxPoint(gpx, r);
            if (gpx.Failed()) return false;
        }
        return true;
    });
    if (withGpx) gpx.Put("</trkseg>\n</trk>\n</gpx>\n");
    // Close both even after a failure, and report the first write failure over anything else;
    // only when both are whole do they take the place of the old files.
    const bool outOk = out.Finish();
    const bool gpxOk = !withGpx || gpx.Finish();
    if (!outOk || !gpxOk) {
        error = !outOk ? out.Error() : gpx.Error();
        result.Status = ConvertStatus::Failed;
    }
    if (result.Status == ConvertStatus::Ok && !(out.Commit() && (!withGpx || gpx.Commit()))) {
        error = !out.Error().empty() ? out.Error() : gpx.Error();
        result.Status = ConvertStatus::Failed;
    }
    return result;
}

}  // namespace vantora
