#pragma once
// The text files of a market folder: UTF-8 with or without a byte-order
// mark, or GBK; one record a line, fields separated by commas (a field in
// double quotes may hold commas, "" standing for one quote), blank lines
// skipped, and a first line that names the columns. Every complaint names
// the file and the line: "nav/000001.csv:17: ...".
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace vextal {

// The words of funds.csv for a fund's type (MarketFund::fundType 1..5) and
// its investment (investType 1..4), as the loader reads and the export writes them.
inline constexpr const char* kFolderFundTypes[] = {"开放式", "封闭式", "ETF", "LOF", "集合理财"};
inline constexpr const char* kFolderInvestTypes[] = {"股票", "混合", "债券", "货币"};

struct CsvColumn {
    const char* name;
    bool required;
};

class CCsvReader {
public:
    // `name`: the file as the messages call it (its path in the folder).
    bool Open(const std::string& path, const std::string& name, std::string& error);
    // The same over text already read (the bytes of a file).
    bool OpenText(std::string bytes, const std::string& name, std::string& error);
    // Reads the header line: every column it names must be one of `columns`
    // and named once, and every required one must be there.
    bool ReadHeader(const std::vector<CsvColumn>& columns, std::string& error);
    // The next record; false at the end of the file, or with `error` set
    // when the line is malformed (a field count other than the header's, an
    // open quote).
    bool Next(std::string& error);
    // Field of column `column` (its place in the list given to ReadHeader);
    // empty for an optional column the file does not have.
    std::string_view Field(size_t column) const;
    bool HasColumn(size_t column) const { return column < m_place.size() && m_place[column] >= 0; }
    int Line() const { return m_line; }
    // "name:line: reason"
    std::string Fail(const std::string& reason) const;

private:
    bool SplitLine(std::string_view line, std::string& error);

    std::string m_text, m_name;
    size_t m_pos = 0;
    int m_line = 0;
    size_t m_width = 0;  // fields of a record: the header's
    std::vector<int> m_place;
    std::vector<std::string_view> m_fields;
    std::deque<std::string> m_unquoted;  // quoted fields, their quotes undone
};

// A date as the files write it: YYYY-MM-DD (also YYYY/MM/DD or YYYYMMDD);
// false for anything else or a day that does not exist.
bool ParseCsvDay(std::string_view text, int& day);
// A time of day HH:MM or HH:MM:SS, as seconds since midnight.
bool ParseCsvTime(std::string_view text, int& second);
// Whether the text can stand in a record on the wire: no control
// characters, none of < > & | (they would break the answers), and nothing
// GBK cannot hold.
bool IsWireText(std::string_view text);

}  // namespace vextal
