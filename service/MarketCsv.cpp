#include "MarketCsv.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "TradingCalendar.h"
#include "common/Format.h"
#include "net/Encoding.h"

namespace vextal {
namespace {

bool IsAscii(std::string_view text)
{
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int Digits(std::string_view s, size_t at, size_t count)
{
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

}  // namespace

bool CCsvReader::Open(const std::string& path, const std::string& name, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = name + ": cannot be read";
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = name + ": cannot be read";
        return false;
    }
    return OpenText(std::move(bytes), name, error);
}

bool CCsvReader::OpenText(std::string bytes, const std::string& name, std::string& error)
{
    m_name = name;
    m_pos = 0;
    m_line = 0;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (IsAscii(bytes) || IsValidUtf8(bytes)) {
        m_text = std::move(bytes);
        return true;
    }
    // Not UTF-8: GBK, when every byte of it converts both ways.
    std::string text = GbkToUtf8(bytes);
    if (Utf8ToGbk(text) == bytes) {
        m_text = std::move(text);
        return true;
    }
    int line = 1;
    for (size_t start = 0; start < bytes.size(); ++line) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string one = bytes.substr(start, end - start);
        if (!IsValidUtf8(one) && Utf8ToGbk(GbkToUtf8(one)) != one) break;
        start = end + 1;
    }
    error = name + ":" + std::to_string(line) + ": neither UTF-8 nor GBK text";
    return false;
}

std::string CCsvReader::Fail(const std::string& reason) const
{
    return m_name + ":" + std::to_string(m_line) + ": " + reason;
}

bool CCsvReader::SplitLine(std::string_view line, std::string& error)
{
    m_fields.clear();
    m_unquoted.clear();
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i < line.size() && line[i] == '"') {
            std::string value;
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= line.size()) {
                    error = Fail("a quote is not closed");
                    return false;
                }
                if (line[j] == '"') {
                    if (j + 1 < line.size() && line[j + 1] == '"') {
                        value += '"';
                        ++j;
                        continue;
                    }
                    break;
                }
                value += line[j];
            }
            size_t k = j + 1;
            while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
            if (k < line.size() && line[k] != ',') {
                error = Fail("text after a closing quote");
                return false;
            }
            m_unquoted.push_back(std::move(value));
            m_fields.push_back(m_unquoted.back());
            if (k >= line.size()) return true;
            i = k + 1;
            continue;
        }
        const size_t comma = line.find(',', i);
        const size_t end = comma == std::string_view::npos ? line.size() : comma;
        m_fields.push_back(Trim(line.substr(i, end - i)));
        if (comma == std::string_view::npos) return true;
        i = comma + 1;
    }
}

bool CCsvReader::ReadHeader(const std::vector<CsvColumn>& columns, std::string& error)
{
    error.clear();
    if (!Next(error)) {
        if (error.empty()) error = m_name + ": empty file: its first line names the columns";
        return false;
    }
    m_place.assign(columns.size(), -1);
    for (size_t f = 0; f < m_fields.size(); ++f) {
        const std::string name = ToLowerAscii(std::string(m_fields[f]));
        size_t c = 0;
        while (c < columns.size() && name != columns[c].name) ++c;
        if (c == columns.size()) {
            std::string known;
            for (const CsvColumn& col : columns) known += (known.empty() ? "" : ", ") + std::string(col.name);
            error = Fail("unknown column \"" + std::string(m_fields[f]) + "\" (the columns are " + known + ")");
            return false;
        }
        if (m_place[c] >= 0) {
            error = Fail("column \"" + name + "\" named twice");
            return false;
        }
        m_place[c] = static_cast<int>(f);
    }
    for (size_t c = 0; c < columns.size(); ++c)
        if (columns[c].required && m_place[c] < 0) {
            error = Fail("no column \"" + std::string(columns[c].name) + "\"");
            return false;
        }
    m_width = m_fields.size();
    return true;
}

bool CCsvReader::Next(std::string& error)
{
    while (m_pos < m_text.size()) {
        size_t end = m_text.find('\n', m_pos);
        if (end == std::string::npos) end = m_text.size();
        std::string_view line(m_text.data() + m_pos, end - m_pos);
        m_pos = end + 1;
        ++m_line;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (Trim(line).empty()) continue;
        if (!SplitLine(line, error)) return false;
        if (m_width && m_fields.size() != m_width) {
            error = Fail(StrFormat("%zu fields, the header names %zu", m_fields.size(), m_width));
            return false;
        }
        return true;
    }
    return false;
}

std::string_view CCsvReader::Field(size_t column) const
{
    if (!HasColumn(column)) return {};
    return m_fields[static_cast<size_t>(m_place[column])];
}

bool ParseCsvDay(std::string_view text, int& day)
{
    int y = -1, m = -1, d = -1;
    if (text.size() == 10 && (text[4] == '-' || text[4] == '/') && text[7] == text[4]) {
        y = Digits(text, 0, 4);
        m = Digits(text, 5, 2);
        d = Digits(text, 8, 2);
    } else if (text.size() == 8) {
        y = Digits(text, 0, 4);
        m = Digits(text, 4, 2);
        d = Digits(text, 6, 2);
    } else {
        // YYYY/M/D as a spreadsheet writes it.
        OleDate parsed;
        if (text.size() < 8 || text.size() > 10 || text.find(' ') != std::string_view::npos ||
            !OleDate::Parse(std::string(text), parsed) || !parsed.IsValid())
            return false;
        day = DayNumber(parsed);
        return true;
    }
    if (y < 1900 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
    day = DayOf(y, m, d);
    return true;
}

bool ParseCsvTime(std::string_view text, int& second)
{
    // H:MM, HH:MM, H:MM:SS or HH:MM:SS.
    const size_t colon = text.find(':');
    if (colon != 1 && colon != 2) return false;
    const int h = Digits(text, 0, colon), m = Digits(text, colon + 1, 2);
    int s = 0;
    if (text.size() == colon + 6 && text[colon + 3] == ':') s = Digits(text, colon + 4, 2);
    else if (text.size() != colon + 3) return false;
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return false;
    second = h * 3600 + m * 60 + s;
    return true;
}

bool IsWireText(std::string_view text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&' || c == '|') return false;
    if (IsAscii(text)) return true;
    const std::string utf8(text);
    return GbkToUtf8(Utf8ToGbk(utf8)) == utf8;
}

}  // namespace vextal
