#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <random>

#include "common/Format.h"
#include "common/ProgramDir.h"

namespace vextal {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s)
{
    size_t a = s.find_first_not_of(kBlanks);
    if (a == std::string_view::npos) return {};
    size_t b = s.find_last_not_of(kBlanks);
    return s.substr(a, b - a + 1);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

std::string_view Unquote(std::string_view v)
{
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) return v.substr(1, v.size() - 2);
    return v;
}

bool HasAny(std::string_view s, std::string_view chars) { return s.find_first_of(chars) != std::string_view::npos; }

// The value as it must stand in the file to read back as given.
std::string EncodeValue(std::string_view value)
{
    std::string v(value.substr(0, value.find('\0')));
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';
    bool quote = !v.empty() && (kBlanks.find(v.front()) != std::string_view::npos ||
                                kBlanks.find(v.back()) != std::string_view::npos ||
                                (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()));
    return quote ? "\"" + v + "\"" : v;
}

std::mutex& WriteMutex()
{
    static std::mutex m;
    return m;
}

bool WriteAll(int fd, const std::string& content)
{
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string DefaultIniPath()
{
    return ProgramPath("Vextal.ini");
}

// --- CProfileText -----------------------------------------------------------

void CProfileText::Parse(std::string_view content)
{
    m_lines.clear();
    size_t start = 0;
    while (start < content.size()) {
        size_t nl = content.find('\n', start);
        Line line;
        if (nl == std::string_view::npos) {
            // A last line without "\n" may still end in a lone "\r".
            std::string_view rest = content.substr(start);
            if (!rest.empty() && rest.back() == '\r') {
                rest.remove_suffix(1);
                line.eol = "\r";
            }
            line.text.assign(rest);
            start = content.size();
        } else {
            size_t end = nl;
            if (end > start && content[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text.assign(content.substr(start, end - start));
            start = nl + 1;
        }
        m_lines.push_back(std::move(line));
    }
}

std::string CProfileText::Text() const
{
    std::string out;
    size_t n = 0;
    for (const Line& l : m_lines) n += l.text.size() + l.eol.size();
    out.reserve(n);
    for (const Line& l : m_lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

CProfileText::Parsed CProfileText::ParseLine(size_t index) const
{
    Parsed p;
    std::string_view s = m_lines[index].text;
    if (index == 0 && s.substr(0, kBom.size()) == kBom) s.remove_prefix(kBom.size());
    s = Trim(s);
    if (s.empty() || s.front() == ';') return p;
    if (s.front() == '[') {
        size_t close = s.find(']');
        p.kind = Kind::Section;
        p.name = Trim(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return p;
    }
    size_t eq = s.find('=');
    if (eq == std::string_view::npos) return p;
    std::string_view key = Trim(s.substr(0, eq));
    if (key.empty()) return p;
    p.kind = Kind::Key;
    p.name = key;
    p.value = Trim(s.substr(eq + 1));
    return p;
}

size_t CProfileText::FindSection(std::string_view section) const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        Parsed p = ParseLine(i);
        if (p.kind == Kind::Section && EqualsNoCase(p.name, section)) return i;
    }
    return std::string::npos;
}

std::string CProfileText::DefaultEol() const
{
    for (const Line& l : m_lines)
        if (l.eol == "\n" || l.eol == "\r\n") return l.eol;
    return "\n";
}

void CProfileText::EndLine(Line& line, const std::string& eol)
{
    if (line.eol == "\r") line.eol = "\r\n";
    else if (line.eol.empty()) line.eol = eol;
}

std::optional<std::string> CProfileText::Find(std::string_view section, std::string_view key) const
{
    section = Trim(section);
    key = Trim(key);
    size_t s = FindSection(section);
    if (s == std::string::npos || key.empty()) return std::nullopt;
    for (size_t i = s + 1; i < m_lines.size(); ++i) {
        Parsed p = ParseLine(i);
        if (p.kind == Kind::Section) break;
        if (p.kind == Kind::Key && EqualsNoCase(p.name, key)) return std::string(Unquote(p.value));
    }
    return std::nullopt;
}

std::string CProfileText::GetString(std::string_view section, std::string_view key, std::string_view def,
                                    size_t bufferSize) const
{
    std::optional<std::string> v = Find(section, key);
    return CutToBuffer(v ? std::string_view(*v) : def, bufferSize);
}

int CProfileText::GetInt(std::string_view section, std::string_view key, int def, size_t bufferSize) const
{
    return ProfileAtoi(GetString(section, key, std::to_string(def), bufferSize));
}

bool CProfileText::SetString(std::string_view section, std::string_view key, std::string_view value)
{
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || HasAny(section, std::string_view("]\r\n\0", 4))) return false;
    if (key.empty() || HasAny(key, std::string_view("=\r\n\0", 4)) || key.front() == '[' || key.front() == ';')
        return false;
    const std::string encoded = EncodeValue(value);
    const std::string eol = DefaultEol();

    size_t s = FindSection(section);
    if (s == std::string::npos) {
        if (!m_lines.empty()) EndLine(m_lines.back(), eol);
        m_lines.push_back({"[" + std::string(section) + "]", eol});
        m_lines.push_back({std::string(key) + "=" + encoded, eol});
        return true;
    }
    size_t lastNonBlank = s;
    for (size_t i = s + 1; i < m_lines.size(); ++i) {
        Parsed p = ParseLine(i);
        if (p.kind == Kind::Section) break;
        if (p.kind == Kind::Key && EqualsNoCase(p.name, key)) {
            std::string written(p.name);  // the key keeps its spelling in the file
            m_lines[i].text = written + "=" + encoded;
            return true;
        }
        if (!Trim(m_lines[i].text).empty()) lastNonBlank = i;
    }
    EndLine(m_lines[lastNonBlank], eol);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(lastNonBlank + 1),
                   Line{std::string(key) + "=" + encoded, eol});
    return true;
}

// --- helpers ----------------------------------------------------------------

int ProfileAtoi(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > int64_t{INT_MAX} + 1) v = int64_t{INT_MAX} + 1;  // saturate; clamped below
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

std::string CutToBuffer(std::string_view text, size_t bufferSize)
{
    if (bufferSize == 0) return std::string();
    if (bufferSize == kIniNoLimit || text.size() < bufferSize) return std::string(text);
    size_t cut = bufferSize - 1;
    // Do not leave the first bytes of a UTF-8 character behind.
    size_t p = cut;
    while (p > 0 && cut - p < 3 && (static_cast<unsigned char>(text[p]) & 0xC0u) == 0x80u) --p;
    unsigned char lead = static_cast<unsigned char>(text[p]);
    size_t need = lead >= 0xF0u ? 4 : lead >= 0xE0u ? 3 : lead >= 0xC0u ? 2 : 1;
    if (lead >= 0xC0u && p + need > cut) cut = p;
    return std::string(text.substr(0, cut));
}

bool ReadProfileFile(const std::string& path, CProfileText& out)
{
    out.Parse({});
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string content;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    out.Parse(content);
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& content)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    // Write through a symbolic link to the file it names, keeping the link.
    if (fs::is_symlink(target, ec)) {
        fs::path linked = fs::read_symlink(target, ec);
        if (ec) return false;
        target = linked.is_absolute() ? linked : target.parent_path() / linked;
    }
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";

    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    int fd = -1;
    std::string tmp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = (dir / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                      std::to_string(counter++) + "." + std::to_string(rd() % 100000) + ".tmp"))
                  .string();
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    struct stat st{};
    if (::stat(target.c_str(), &st) == 0) {
        (void)::fchmod(fd, st.st_mode & 07777);
        (void)!::fchown(fd, st.st_uid, st.st_gid);  // best effort (only root may change it)
    }
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

// --- file level ---------------------------------------------------------------

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& def,
                          size_t bufferSize, const std::string& path)
{
    CProfileText text;
    ReadProfileFile(path, text);  // an unreadable file reads as empty: defaults
    return text.GetString(section, key, def, bufferSize);
}

int ReadIniInt(const std::string& section, const std::string& key, int def, size_t bufferSize,
               const std::string& path)
{
    CProfileText text;
    ReadProfileFile(path, text);
    return text.GetInt(section, key, def, bufferSize);
}

bool WriteIniEntries(const std::vector<IniEntry>& entries, const std::string& path)
{
    std::lock_guard<std::mutex> lock(WriteMutex());
    CProfileText text;
    std::error_code ec;
    bool exists = std::filesystem::exists(path, ec);
    if (!ReadProfileFile(path, text) && exists) return false;  // never overwrite what we could not read
    const std::string before = text.Text();
    for (const IniEntry& e : entries)
        if (!text.SetString(e.section, e.key, e.value)) return false;
    std::string after = text.Text();
    if (exists && after == before) return true;
    return WriteFileAtomically(path, after);
}

bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path)
{
    return WriteIniEntries({{section, key, value}}, path);
}

bool WriteIniInt(const std::string& section, const std::string& key, int value, const std::string& path)
{
    return WriteIniString(section, key, StrFormat("%d", value), path);
}

std::string ReadShowString(const std::string& key, const std::string& def, size_t bufferSize,
                           const std::string& path)
{
    return ReadIniString("Show", key, def, bufferSize, path);
}

bool WriteShowString(const std::string& key, const std::string& value, const std::string& path)
{
    return WriteIniString("Show", key, value, path);
}

}  // namespace vextal
