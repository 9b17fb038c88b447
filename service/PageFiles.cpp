#include "PageFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Clock.h"
#include "common/Format.h"
#include "db/AdoDatabase.h"
#include "db/Schema.h"
#include "net/Encoding.h"
#include "net/UpdateSignature.h"

namespace vextal {
namespace fs = std::filesystem;

namespace {

const char* const kStyle =
    "body{font-family:\"宋体\",sans-serif;font-size:12px;margin:8px;color:#222}\n"
    "h1{font-size:16px;color:#1d4f91}\n"
    "table{border-collapse:collapse}\n"
    "td,th{border:1px solid #c8d4e6;padding:2px 6px;text-align:right}\n"
    "th{background:#eef3fa}\n"
    ".up{color:#c00}.down{color:#080}\n";

std::string PageHead(const char* title)
{
    return std::string("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
                       "<link rel=\"stylesheet\" href=\"stylemain.css\"><title>") +
           title + "</title></head><body><img src=\"image/logoweb.gif\" alt=\"Plindo\"><h1>" + title + "</h1>";
}

// LZW with a clear code before every pair of pixels keeps every code three
// bits wide: larger than a compressing encoder, but short and always valid.
std::string EncodeGif(int width, int height, const unsigned char palette[4][3], const std::vector<unsigned char>& px)
{
    std::string out = "GIF89a";
    auto word = [&](int v) { out += static_cast<char>(v & 0xFF); out += static_cast<char>((v >> 8) & 0xFF); };
    word(width);
    word(height);
    out += static_cast<char>(0x81);  // global colour table of 4 entries
    out += '\0';
    out += '\0';
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c) out += static_cast<char>(palette[i][c]);
    out += ',';
    word(0);
    word(0);
    word(width);
    word(height);
    out += '\0';
    out += '\2';  // minimum code size
    std::string data;
    unsigned bits = 0, count = 0;
    auto emit = [&](unsigned code) {
        bits |= code << count;
        count += 3;
        while (count >= 8) {
            data += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    for (size_t i = 0; i < px.size(); ++i) {
        if (i % 2 == 0) emit(4);
        emit(px[i] & 3);
    }
    emit(5);
    if (count) data += static_cast<char>(bits & 0xFF);
    for (size_t i = 0; i < data.size(); i += 255) {
        size_t n = std::min<size_t>(255, data.size() - i);
        out += static_cast<char>(n);
        out += data.substr(i, n);
    }
    out += '\0';
    out += ';';
    return out;
}

bool ReadWhole(const std::string& path, std::string& body)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool IsUpdater(const std::string& path)
{
    return path == "Update/UpdatePlindo" || path == "Update/UpdatePlindo.exe" || path == "Update/UpdateVextal" ||
           path == "Update/UpdateVextal.exe";
}

}  // namespace

std::string MakeLogoGif()
{
    const int w = 88, h = 31;
    const unsigned char palette[4][3] = {{255, 255, 255}, {29, 79, 145}, {230, 120, 30}, {200, 212, 230}};
    std::vector<unsigned char> px(static_cast<size_t>(w * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char c = 0;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) c = 3;
            // A rising line of bars, like a NAV chart.
            else if (x >= 8 && x < 80 && (x - 8) % 6 < 4 && y > 26 - (x - 8) / 4) c = (x / 6) % 3 == 0 ? 2 : 1;
            px[static_cast<size_t>(y * w + x)] = c;
        }
    return EncodeGif(w, h, palette, px);
}

CPageFiles::CPageFiles(const CMarket& market, std::string dataDir, std::string updateKeyPem)
    : m_market(market), m_dataDir(std::move(dataDir)), m_updateKeyPem(std::move(updateKeyPem))
{
}

bool CPageFiles::Prepare(std::string& error)
{
    std::error_code ec;
    fs::create_directories(m_dataDir + "/Update", ec);
    std::string mdb = m_dataDir + "/Update/" + kDatabaseFileName;
    if (fs::exists(mdb, ec)) return true;
    return CreateDatabaseFile(mdb, CAdoDatabase::kDefaultPassword, error);
}

std::string CPageFiles::FundKeyText(const OleDate& now) const
{
    const int today = DayNumber(now);
    std::string text;
    for (const SimFund& f : m_market.Funds())
        if (m_market.IsListed(f, today) && !m_market.IsWithdrawn(f, today)) text += f.code + "\t" + f.name + "\r\n";
    return Utf8ToGbk(text);
}

std::string CPageFiles::Page(const std::string& name, const OleDate& now) const
{
    std::string html;
    if (name == "vextal.htm") {
        html = PageHead("欢迎使用Vextal") +
               "<p>登录后即可查看基金最新净值、历史走势，记录您的基金投资并计算收益。</p>"
               "<p>演示帐户：demo / demo123（VIP会员），free / free123（免费会员）。</p></body></html>";
    } else if (name == "vextalnew.htm") {
        html = PageHead("Vextal新版说明") +
               "<p>本版本支持基金净值实时估算、基金收益计算和帐户数据同步。</p></body></html>";
    } else {
        html = PageHead("股市指数") + "<table><tr><th>指数</th><th>日期</th><th>收盘</th><th>涨跌</th><th>涨跌幅</th></tr>";
        const int day = DayNumber(now);
        for (size_t k = 0; k < m_market.Indices().size(); ++k) {
            auto recs = m_market.IndexHistory(static_cast<int>(k), now, day - 15, day);
            if (recs.empty()) continue;
            const IndexRecord& r = recs.back();
            html += StrFormat("<tr><td>%s</td><td>%s</td><td>%0.2f</td><td class=\"%s\">%0.2f</td><td>%0.2f%%</td></tr>",
                              m_market.Indices()[k].name.c_str(), DateOfDay(r.day).Format(3).c_str(), r.value,
                              r.var >= 0 ? "up" : "down", r.var, r.pct);
        }
        html += "</table></body></html>";
    }
    return Utf8ToGbk(html);
}

bool CPageFiles::Get(const std::string& path, std::string& body, std::string& contentType) const
{
    const OleDate now = Clock::Now();
    // The detached signature of an updater is served beside it as
    // "Update/<file>.sig": the 64 raw bytes of its Ed25519 signature, made
    // with the key given by --update-key (the program checks it against the
    // key built into it). Without a key there is no signature.
    const std::string suffix = kSignatureSuffix;
    if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        const std::string signedPath = path.substr(0, path.size() - suffix.size());
        std::string file, fileType, error;
        if (m_updateKeyPem.empty() || !IsUpdater(signedPath) || !Get(signedPath, file, fileType)) return false;
        contentType = "application/octet-stream";
        return SignDetached(file, m_updateKeyPem, body, error);
    }
    if (path == "stylemain.css") {
        body = Utf8ToGbk(kStyle);
        contentType = "text/css";
    } else if (path == "vextal.htm" || path == "vextalnew.htm" || path == "stockindex.htm") {
        body = Page(path, now);
        contentType = "text/html; charset=gbk";
    } else if (path == "image/logoweb.gif") {
        body = MakeLogoGif();
        contentType = "image/gif";
    } else if (path == "fundkey.txt") {
        body = FundKeyText(now);
        contentType = "text/plain; charset=gbk";
    } else if (path == std::string("Update/") + kDatabaseFileName) {
        contentType = "application/octet-stream";
        return ReadWhole(m_dataDir + "/Update/" + kDatabaseFileName, body);
    } else if (path == "Update/Vextal.chm") {
        body = Utf8ToGbk(PageHead("Vextal帮助") +
                         "<p>Vextal帮助您记录基金投资、查看基金净值和估算当日净值。</p>"
                         "<p>请在菜单中选择相应功能；联机功能需要登录Plindo服务。</p></body></html>");
        contentType = "text/html; charset=gbk";
    } else if (IsUpdater(path)) {
        // This service never offers a newer program build, so the updaters
        // have nothing to replace.
        body = "#!/bin/sh\n# Updater of the local Plindo service: no newer program is offered.\nexit 0\n";
        contentType = "application/octet-stream";
    } else {
        return false;
    }
    return true;
}

}  // namespace vextal
