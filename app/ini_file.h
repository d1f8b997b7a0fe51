// A small INI reader and writer. Writing changes only the keys it is asked to and keeps
// every other line, comment and key order of the file byte for byte.
//
// Form: "[Section]" lines open a section, "key=value" lines hold settings, lines whose first
// non-blank character is ';' or '#' are comments. Section and key names match without regard
// to ASCII case; blanks around names and values are not part of them. LF and CRLF line ends
// are both read, and lines added later use the style the file already has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantora {

class IniFile {
  public:
    // A settings file is a few hundred bytes; anything past this is not read, so that a
    // wrong or hostile file cannot exhaust memory.
    static constexpr size_t MaxBytes = 1 << 20;

    IniFile() = default;
    explicit IniFile(std::string text);

    // Reads a file; a missing or unreadable file gives an empty one (the defaults apply).
    static IniFile Load(const std::string& path);

    // Decimal with an optional sign, or hexadecimal with 0x/0X; a missing key or a non-number
    // (trailing junk included, or a value that does not fit 32 bits) gives fallback. A hex value
    // is a 32-bit word: 0x80000000..0xFFFFFFFF read as the negative numbers they stand for.
    int64_t ReadInteger(const std::string& section, const std::string& key, int64_t fallback) const;
    // An integer: 0 is false, any other number true.
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    bool HasKey(const std::string& section, const std::string& key) const;
    // Keys of a section in file order (each name once).
    std::vector<std::string> Keys(const std::string& section) const;

    // Replaces the value in place, or appends the key to its section (the section to the file).
    // Returns false and changes nothing when the text cannot be stored as one line that reads
    // back the same: a value with a line break, a key with '=', a section name with ']', and
    // so on. Blanks around the value are kept in the file but, as with every value, not read.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);

    const std::string& Text() const { return text_; }
    // False when the text is only part of a file (too large, or a read error): saving it
    // would lose the rest, so Save refuses.
    bool Complete() const { return complete_; }
    // Why the file was not read as it is (not a regular file, unreadable, too large): a
    // message for the user; empty when it was read whole or did not exist.
    const std::string& Problem() const { return problem_; }
    // Writes the text to path through a temporary file in the same folder and a rename, so a
    // failed write leaves the old file whole; false with a message naming the path on failure.
    // Links are followed to the file they name; a file with other hard links is written in
    // place; a file without write permission is refused and left as it is.
    bool Save(const std::string& path, std::string& error) const;

  private:
    static constexpr size_t None = static_cast<size_t>(-1);
    struct Section {
        size_t NameBegin, NameEnd;
        size_t LastLineEnd;  // end of the last non-blank line of the section, before its line end
    };
    struct Entry {
        size_t SectionIndex;  // into sections_, None before the first section
        size_t KeyBegin, KeyEnd;
        size_t ValueBegin, ValueEnd;
    };
    void Index();
    bool SectionIs(size_t index, const std::string& name) const;
    const Entry* Find(const std::string& section, const std::string& key) const;
    std::string LineEnd() const;
    bool WriteInPlace(const std::string& target, const std::string& path, std::string& error) const;

    std::string text_;
    bool complete_ = true;
    std::string problem_;
    std::vector<Section> sections_;
    std::vector<Entry> entries_;
};

}  // namespace vantora
