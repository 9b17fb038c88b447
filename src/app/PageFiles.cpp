#include "app/PageFiles.h"

#include <filesystem>
#include <fstream>

#include "app/IniFile.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "net/HttpTransport.h"

namespace fs = std::filesystem;

namespace vextal {
namespace {

// Through a temporary file and a rename, so a failed write never leaves a
// half-written file in place of a good one.
bool StoreBody(const std::string& path, const std::string& body)
{
    return !body.empty() && WriteFileAtomically(path, body);
}

bool EnsureFolder(const std::string& path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) return true;
    return fs::create_directory(path, ec) || fs::is_directory(path, ec);
}

}  // namespace

bool DownloadFile(const std::string& serverUrl, const std::string& fileName)
{
    std::string body;
    if (HttpGetLargeBuffer(serverUrl + "Update/" + fileName, body, std::string(), std::string()) <= 0) return false;
    return StoreBody(ProgramPath(fileName), body);
}

bool FetchPageFile(const std::string& url, const std::string& path, bool onlyMissing)
{
    std::error_code ec;
    if (onlyMissing && fs::exists(path, ec)) return true;
    std::string body;
    if (HttpGetBuffer(url, body, std::string(), std::string()) <= 0) return false;
    return StoreBody(path, body);
}

bool PrepareHtmlFiles(const std::string& serverUrl, bool onlyMissing)
{
    const std::string html = ProgramPath(kHtmlFolder) + "/";
    if (!EnsureFolder(html)) return true;
    if (EnsureFolder(html + "image"))
        FetchPageFile(serverUrl + "image/logoweb.gif", html + "image/logoweb.gif", onlyMissing);
    for (const char* name : kPageFiles) FetchPageFile(serverUrl + name, html + name, onlyMissing);
    return true;
}

std::map<std::string, std::string> LoadFundKeyTable(const std::string& path)
{
    std::map<std::string, std::string> table;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto pieces = SplitText(line, '\t');
        if (pieces.size() == 2) table[pieces[0]] = pieces[1];
    }
    return table;
}

}  // namespace vextal
