#pragma once
// Reader and writer of the Windows profile format: "[Section]"
// lines, "Key=Value" lines, sections and keys matched without regard to
// (ASCII) case, values read as text. The file is UTF-8 in this project.
//
// Reading follows the Windows profile functions: leading and trailing blanks
// around keys and values are ignored, a value enclosed in a matching pair of
// double or single quotes loses them, the first section of a name and the
// first key of a name within it count, lines starting with ";" are comments,
// lines before the first section and lines without "=" hold no key. A value
// is cut to the buffer size N minus 1 characters (bytes; a UTF-8 character
// cut in half is dropped whole); a missing file or key gives the default,
// cut the same way.
//
// Writing one key changes the line of that key only (or inserts one line
// after the last non-blank line of its section, or appends the section at
// the end); every other line, its line ending and a byte-order mark stay as
// they were. The file is replaced atomically: the new content is written to a
// temporary file in the same folder, flushed, and renamed over the original.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vextal {

// Buffer size that cuts nothing (keys without a fixed buffer).
inline constexpr size_t kIniNoLimit = static_cast<size_t>(-1);

// ProgramPath("Vextal.ini").
std::string DefaultIniPath();

// The text of a profile file, kept line by line exactly as read.
class CProfileText {
public:
    CProfileText() = default;
    explicit CProfileText(std::string_view content) { Parse(content); }

    void Parse(std::string_view content);
    // The whole text, every untouched line byte for byte as parsed.
    std::string Text() const;

    // The value of a key, or nothing when the section or key is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // GetPrivateProfileString: the value (or the default) cut to bufferSize - 1.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                          size_t bufferSize) const;
    // The text read as above with the default text "%d" of def, then atoi.
    int GetInt(std::string_view section, std::string_view key, int def, size_t bufferSize) const;

    // WritePrivateProfileString. False when the section or key cannot be
    // written as a profile line (empty, or holding a line break, "]" in a
    // section or "=" in a key, or a key starting with "[" or ";"). Line
    // breaks and 0 bytes in the value are replaced by spaces (cut at 0);
    // a value that would not read back as written (leading or trailing
    // blanks, enclosing quotes) is written inside double quotes.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

private:
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\n", "\r\n", or for the last line "\r" or ""
    };
    enum class Kind { Other, Section, Key };
    struct Parsed {
        Kind kind = Kind::Other;
        std::string_view name;   // section name or key
        std::string_view value;  // raw value (keys only), blanks trimmed
    };
    Parsed ParseLine(size_t index) const;
    // Index of the first header line of the section, or npos.
    size_t FindSection(std::string_view section) const;
    std::string DefaultEol() const;
    // Gives a line that ends the text a line break before another follows.
    static void EndLine(Line& line, const std::string& eol);

    std::vector<Line> m_lines;
};

// atoi: leading blanks, an optional sign, then digits; anything else gives 0.
// Values beyond the int range are clamped to it.
int ProfileAtoi(std::string_view text);
// The text cut to bufferSize - 1 bytes without splitting a UTF-8 character.
std::string CutToBuffer(std::string_view text, size_t bufferSize);

// Whole file; false (and an empty text) when it cannot be read.
bool ReadProfileFile(const std::string& path, CProfileText& out);
// Writes content to path through a temporary file in the same folder and a rename.
bool WriteFileAtomically(const std::string& path, const std::string& content);

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& def,
                          size_t bufferSize, const std::string& path = DefaultIniPath());
int ReadIniInt(const std::string& section, const std::string& key, int def, size_t bufferSize,
               const std::string& path = DefaultIniPath());
bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path = DefaultIniPath());
bool WriteIniInt(const std::string& section, const std::string& key, int value,
                 const std::string& path = DefaultIniPath());

struct IniEntry {
    std::string section;
    std::string key;
    std::string value;
};
// Several keys in one read-modify-replace of the file (all or none).
bool WriteIniEntries(const std::vector<IniEntry>& entries, const std::string& path = DefaultIniPath());

std::string ReadShowString(const std::string& key, const std::string& def, size_t bufferSize,
                           const std::string& path = DefaultIniPath());
bool WriteShowString(const std::string& key, const std::string& value, const std::string& path = DefaultIniPath());

}  // namespace vextal
