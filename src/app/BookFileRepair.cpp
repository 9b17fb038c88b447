#include "app/BookFileRepair.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/Clock.h"
#include "common/Format.h"
#include "db/AdoDatabase.h"

namespace fs = std::filesystem;

namespace vextal {
namespace {

// Less than this free in the folder: the disk is taken as full.
constexpr std::uintmax_t kFullDiskBytes = 1 << 20;

bool DiskFull(const std::string& folder)
{
    std::error_code ec;
    const fs::space_info space = fs::space(folder, ec);
    return !ec && space.available < kFullDiskBytes;
}

// The name the damaged file is kept under: the program's clock, and a count
// when that name is taken.
std::string AsideName(const std::string& path)
{
    const std::string base = path + Clock::Now().FormatWith(".damaged-%Y%m%d-%H%M%S");
    std::error_code ec;
    std::string name = base;
    for (int n = 2; fs::exists(name, ec) || fs::exists(name + "-wal", ec); ++n) name = base + StrFormat("-%d", n);
    return name;
}

// Moves the damaged file and its log aside; the index of the log is only a
// cache and goes (a new file must not take up the old file's log).
bool PutAside(const std::string& path, const std::string& aside, std::string& error)
{
    std::error_code ec;
    fs::rename(path, aside, ec);
    if (!ec && fs::exists(path + "-wal")) fs::rename(path + "-wal", aside + "-wal", ec);
    if (ec) {
        error = StrFormat("无法把损坏的文件改名为 %s:%s", aside.c_str(), ec.message().c_str());
        return false;
    }
    fs::remove(path + "-shm", ec);
    return true;
}

// The backup copied into place through a temporary name; the backup stays.
bool RestoreBackup(const std::string& backup, const std::string& path, std::string& error)
{
    const std::string part = path + ".restore";
    std::error_code ec;
    fs::copy_file(backup, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, path, ec);
    if (!ec) return true;
    error = StrFormat("无法从备份 %s 恢复:%s", backup.c_str(), ec.message().c_str());
    fs::remove(part, ec);
    return false;
}

std::string ModifiedText(const std::string& path)
{
    std::error_code ec;
    const auto stamp = fs::last_write_time(path, ec);
    if (ec) return std::string();
    const auto sys = std::chrono::file_clock::to_sys(stamp);
    return OleDate::FromTimeT(std::chrono::system_clock::to_time_t(sys)).FormatWith("%Y-%m-%d %H:%M");
}

}  // namespace

std::string CannotCreateBookText(const std::string& path, const std::string& reason)
{
    const std::string folder = fs::path(path).parent_path().string();
    std::string text = StrFormat("无法在文件夹 %s 中建立数据库文件 %s", folder.c_str(),
                                 fs::path(path).filename().string().c_str());
    if (!reason.empty()) text += "(" + reason + ")";
    text += DiskFull(folder) ? "。\n该文件夹所在的磁盘空间不足:请腾出磁盘空间后重新启动程序。"
                             : "。\n请检查该文件夹的写权限和磁盘空间后重新启动程序。";
    return text;
}

std::string StoreFailedText(const char* what, const std::string& path, const std::string& reason)
{
    std::string text = StrFormat("%s没有存入数据库文件 %s", what, path.c_str());
    if (!reason.empty()) text += "(" + reason + ")";
    const std::string folder = fs::path(path).parent_path().string();
    text += DiskFull(folder) ? "。\n该文件夹所在的磁盘空间不足:请腾出磁盘空间后重新登录,程序会再次下载。"
                             : "。\n请重新登录,程序会再次下载。";
    return text;
}

bool OpenBookFile(CAdoDatabase& db, const std::string& path, std::string& damage)
{
    damage.clear();
    std::error_code ec;
    // Not opened at all: the open would write a header into it.
    if (fs::file_size(path, ec) == 0 && !ec) {
        damage = "文件长度为0";
        return false;
    }
    if (db.Open()) {
        if (db.GetRecordCount("SELECT name FROM sqlite_master WHERE name='T_System_Info'") > 0) return true;
        db.Close();
    }
    // Only on a failure is the file judged again: that costs a key derivation.
    IsDamagedBookFile(path, damage);
    return false;
}

bool IsDamagedBookFile(const std::string& path, std::string& why)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    if (!std::ifstream(path, std::ios::binary)) return false;  // unreadable, not damaged
    if (fs::file_size(path, ec) == 0 && !ec) {
        why = "文件长度为0";
        return true;
    }
    // Read-only, so the check changes nothing in the file it judges.
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    const std::string key = CAdoDatabase::kDefaultPassword;
    if (rc == SQLITE_OK) rc = sqlite3_key(db, key.data(), static_cast<int>(key.size()));
    sqlite3_stmt* st = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name='T_System_Info'", -1, &st, nullptr);
    int tables = 0;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            tables = sqlite3_column_int(st, 0);
            rc = SQLITE_OK;
        }
    }
    const int primary = rc & 0xff;
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    else if (rc == SQLITE_OK && tables == 0) why = "文件中没有帐本的数据表";
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    return !why.empty();
}

bool RepairDamagedBook(IUserPrompt& prompt, const std::string& path, const std::string& why,
                       const std::function<std::string()>& makeNew)
{
    const std::string backup = path + ".bak";
    std::string backupDamage;
    std::error_code ec;
    const bool haveBackup = fs::is_regular_file(backup, ec) && !IsDamagedBookFile(backup, backupDamage);
    const std::string aside = AsideName(path);
    std::string question = StrFormat("数据库文件 %s 已损坏,无法使用(%s)", path.c_str(), why.c_str());
    if (haveBackup) {
        question += StrFormat("。\n\n是:打开最近的备份 %s(%s)。\n否:新建一个空的数据库文件。\n\n"
                              "损坏的文件不会删除,改名保留为 %s。",
                              backup.c_str(), ModifiedText(backup).c_str(), aside.c_str());
    } else {
        question += StrFormat(",也没有可用的备份。\n\n是:新建一个空的数据库文件,损坏的文件改名保留为 %s。\n"
                              "否:不打开数据库继续运行(文件保持原样,下次启动时再问)。",
                              aside.c_str());
    }
    const bool yes = prompt.AskYesNo(question);
    if (!haveBackup && !yes) return false;
    std::string error;
    bool ok = PutAside(path, aside, error);
    if (ok && haveBackup && yes) ok = RestoreBackup(backup, path, error);
    else if (ok) {
        error = makeNew();
        ok = fs::exists(path, ec);
        if (!ok) error = CannotCreateBookText(path, error);
    }
    if (!ok) prompt.ShowMessage(error, PromptIcon::Error);
    return ok;
}

}  // namespace vextal
