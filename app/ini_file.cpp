#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "protocol/text.h"

namespace vantora {
namespace {

// Numbers as the profile functions read them: decimal within 32 bits, or "0x" and up to eight
// hexadecimal digits taken as a 32-bit word.
bool ParseWord(std::string_view s, int64_t& out) {
    std::optional<int64_t> v;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        v = ParseInteger(s.substr(2), 16, 0, 0xFFFFFFFF);
        if (v) v = static_cast<int32_t>(static_cast<uint32_t>(*v));
    } else {
        v = ParseInteger(s, 10, INT32_MIN, INT32_MAX);
    }
    if (v) out = *v;
    return v.has_value();
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// All of text to fd; 0, or the errno value of the write that failed.
int WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::string SystemError(const std::string& path, int err) {
    return "Cannot write the settings file \"" + path + "\": " + std::generic_category().message(err);
}

}  // namespace

IniFile::IniFile(std::string text) : text_(std::move(text)) {
    if (text_.size() > MaxBytes) {
        // Keep whole lines only: half a line would read as a wrong value.
        size_t lastLf = text_.rfind('\n', MaxBytes - 1);
        text_.resize(lastLf == std::string::npos ? 0 : lastLf + 1);
        complete_ = false;
    }
    Index();
}

IniFile IniFile::Load(const std::string& path) {
    IniFile unreadable;
    unreadable.complete_ = false;
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return IniFile();
        unreadable.problem_ = "The settings file \"" + path + "\" cannot be read (" +
                              std::generic_category().message(errno) + "); the defaults are used.";
        return unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        unreadable.problem_ = "The settings file \"" + path +
                              "\" is not a regular file; the defaults are used and nothing is saved to it.";
        return unreadable;
    }
    std::string text;
    char buffer[65536];
    while (text.size() <= MaxBytes) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            unreadable.problem_ = "The settings file \"" + path + "\" cannot be read (" +
                                  std::generic_category().message(errno) + "); the defaults are used.";
            return unreadable;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    IniFile ini(std::move(text));
    if (!ini.complete_)
        ini.problem_ = "The settings file \"" + path + "\" is larger than 1 MiB; only its start is read.";
    return ini;
}

void IniFile::Index() {
    sections_.clear();
    entries_.clear();
    size_t current = None;
    const size_t n = text_.size();
    // A byte-order mark some editors write is not part of the first line.
    size_t pos = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < n) {
        size_t lf = text_.find('\n', pos);
        size_t end = lf == std::string::npos ? n : lf;
        size_t contentEnd = end;
        if (contentEnd > pos && text_[contentEnd - 1] == '\r') --contentEnd;
        size_t s = pos;
        while (s < contentEnd && IsBlank(text_[s])) ++s;
        if (s < contentEnd) {
            char c = text_[s];
            if (c == '[') {
                size_t nameBegin = s + 1;
                size_t nameEnd = text_.find(']', nameBegin);
                if (nameEnd == std::string::npos || nameEnd > contentEnd) nameEnd = contentEnd;
                while (nameBegin < nameEnd && IsBlank(text_[nameBegin])) ++nameBegin;
                while (nameEnd > nameBegin && IsBlank(text_[nameEnd - 1])) --nameEnd;
                sections_.push_back({nameBegin, nameEnd, end});
                current = sections_.size() - 1;
            } else {
                if (current != None) sections_[current].LastLineEnd = end;
                size_t eq = c == ';' || c == '#' ? std::string::npos : text_.find('=', s);
                if (eq != std::string::npos && eq < contentEnd) {
                    size_t keyEnd = eq;
                    while (keyEnd > s && IsBlank(text_[keyEnd - 1])) --keyEnd;
                    size_t valueBegin = eq + 1;
                    while (valueBegin < contentEnd && IsBlank(text_[valueBegin])) ++valueBegin;
                    size_t valueEnd = contentEnd;
                    while (valueEnd > valueBegin && IsBlank(text_[valueEnd - 1])) --valueEnd;
                    if (keyEnd > s) entries_.push_back({current, s, keyEnd, valueBegin, valueEnd});
                }
            }
        }
        pos = lf == std::string::npos ? n : lf + 1;
    }
}

bool IniFile::SectionIs(size_t index, const std::string& name) const {
    if (index == None) return false;
    const Section& s = sections_[index];
    return SameName(std::string_view(text_).substr(s.NameBegin, s.NameEnd - s.NameBegin), name);
}

// The first key of that name in any section of that name, as the platform's profile reader does.
const IniFile::Entry* IniFile::Find(const std::string& section, const std::string& key) const {
    std::string_view text(text_);
    for (const Entry& e : entries_) {
        if (SameName(text.substr(e.KeyBegin, e.KeyEnd - e.KeyBegin), key) &&
            SectionIs(e.SectionIndex, section))
            return &e;
    }
    return nullptr;
}

std::string IniFile::LineEnd() const {
    size_t lf = text_.find('\n');
    return lf != std::string::npos && lf > 0 && text_[lf - 1] == '\r' ? "\r\n" : "\n";
}

int64_t IniFile::ReadInteger(const std::string& section, const std::string& key, int64_t fallback) const {
    const Entry* e = Find(section, key);
    int64_t value;
    if (e == nullptr ||
        !ParseWord(std::string_view(text_).substr(e->ValueBegin, e->ValueEnd - e->ValueBegin), value))
        return fallback;
    return value;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
    const Entry* e = Find(section, key);
    return e == nullptr ? fallback : text_.substr(e->ValueBegin, e->ValueEnd - e->ValueBegin);
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    std::unordered_set<std::string> seen;
    for (const Entry& e : entries_) {
        if (!SectionIs(e.SectionIndex, section)) continue;
        std::string name = text_.substr(e.KeyBegin, e.KeyEnd - e.KeyBegin);
        std::string folded = name;
        for (char& c : folded) c = LowerCase(c);
        if (seen.insert(std::move(folded)).second) keys.push_back(std::move(name));
    }
    return keys;
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    // Anything that would read back differently, or split into more lines, is refused.
    if (HasLineBreak(section) || section.find(']') != std::string::npos || Trim(section) != section)
        return false;
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string::npos || Trim(key) != key ||
        key[0] == '[' || key[0] == ';' || key[0] == '#')
        return false;
    if (HasLineBreak(value)) return false;

    if (const Entry* e = Find(section, key)) {
        text_.replace(e->ValueBegin, e->ValueEnd - e->ValueBegin, value);
        Index();
        return true;
    }
    const std::string eol = LineEnd();
    // A file that stops without a line end gets one first; a bare CR there already
    // counts as half of a CRLF.
    auto terminator = [&](size_t at) -> std::string { return at > 0 && text_[at - 1] == '\r' ? "\n" : eol; };
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (!SectionIs(i, section)) continue;
        size_t end = sections_[i].LastLineEnd;
        if (end < text_.size())
            text_.insert(end + 1, key + "=" + value + eol);
        else
            text_ += terminator(end) + key + "=" + value;
        Index();
        return true;
    }
    std::string add;
    if (!text_.empty() && text_.back() != '\n') add = terminator(text_.size());
    // A blank line between the last section and the new one, unless there is one.
    size_t end = text_.size();
    if (end > 0 && text_[end - 1] == '\n') --end;
    size_t start = end == 0 ? std::string::npos : text_.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    bool blank = true;
    for (size_t p = start; p < end; ++p) blank = blank && (IsBlank(text_[p]) || text_[p] == '\r');
    if (!blank) add += eol;
    text_ += add + "[" + section + "]" + eol + key + "=" + value + eol;
    Index();
    return true;
}

bool IniFile::Save(const std::string& path, std::string& error) const {
    if (!complete_) {
        error = "The settings file \"" + path +
                "\" could not be read completely (too large or unreadable); it is not rewritten, so "
                "that nothing in it is lost";
        return false;
    }
    // Write through links to the file they name, so a link stays a link (a dangling one gets
    // its target created).
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char link[4096];
        const ssize_t n = ::readlink(target.c_str(), link, sizeof link - 1);
        if (n <= 0) break;
        link[n] = '\0';
        const size_t slash = target.find_last_of('/');
        target = (link[0] == '/' || slash == std::string::npos) ? std::string(link)
                                                                : target.substr(0, slash + 1) + link;
    }
    struct stat old {};
    bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        error = "The settings file \"" + path + "\" is not a regular file; nothing was saved to it";
        return false;
    }
    // A file without write permission was made read-only on purpose: it is left as it is,
    // never replaced behind its owner's back.
    if (existed && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        error = "The settings file \"" + path + "\" is read-only; it was left as it is";
        return false;
    }
    // Another name of the same file would be split off by a rename: write the file in place.
    if (existed && old.st_nlink > 1) return WriteInPlace(target, path, error);

    static std::atomic<unsigned> serial{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = SystemError(path, errno);
        return false;
    }
    auto fail = [&](int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        error = SystemError(path, err);
        return false;
    };
    if (existed && S_ISREG(old.st_mode)) {
        // The new file takes the old one's owner and permissions (best effort).
        [[maybe_unused]] int owned = ::fchown(fd, old.st_uid, old.st_gid);
        [[maybe_unused]] int mode = ::fchmod(fd, old.st_mode & 07777);
    }
    if (const int err = WriteAll(fd, text_); err != 0) return fail(err);
    if (::fsync(fd) != 0) return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
    return true;
}

bool IniFile::WriteInPlace(const std::string& target, const std::string& path, std::string& error) const {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError(path, errno);
        return false;
    }
    int err = WriteAll(fd, text_);
    if (err == 0 && ::ftruncate(fd, static_cast<off_t>(text_.size())) != 0) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) error = SystemError(path, err);
    return err == 0;
}

}  // namespace vantora
