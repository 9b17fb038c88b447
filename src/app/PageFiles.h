#pragma once
// Files the program fetches from the server into its program directory:
// the page files of the Html/ folder, the database template, the help file
// and the updaters; and the fund key table read from Html/fundkey.txt.
#include <map>
#include <string>

namespace vextal {

inline constexpr const char* kHtmlFolder = "Html";
inline constexpr const char* kFundKeyFile = "Html/fundkey.txt";
// Html/ page files in the order they are fetched (after image/logoweb.gif).
inline constexpr const char* kPageFiles[] = {"stylemain.css", "vextalnew.htm", "vextal.htm", "stockindex.htm",
                                              "fundkey.txt"};

// serverUrl + "Update/" + fileName into the program directory. True when at
// least one byte came back and was written; the old file is replaced only
// by a complete new one.
bool DownloadFile(const std::string& serverUrl, const std::string& fileName);

// Fetches url into path unless the file exists and onlyMissing is set. A
// body of at least one byte replaces the file; anything else leaves it.
bool FetchPageFile(const std::string& url, const std::string& path, bool onlyMissing);

// Fills Html/ (and Html/image/) under the program directory from the
// server URL. Failures are silent; always true.
bool PrepareHtmlFiles(const std::string& serverUrl, bool onlyMissing);

// Lines of exactly two tab-separated pieces become key and value; other
// lines are skipped. A missing file gives an empty table.
std::map<std::string, std::string> LoadFundKeyTable(const std::string& path);

}  // namespace vextal
