#pragma once
// What members keep at the service: their bookkeeping text (per account),
// the trade ids they uploaded with their cancellations, fixed-investment
// plans and favourite folders. Tables in the user store's SQLite file;
// every change that touches several rows is one transaction.
#include <string>
#include <vector>

#include "UserStore.h"

namespace vextal {

// One account of a bookkeeping text: "_A_" row "_A_", "_F_" rows "_F_",
// "_T_" rows "_T_", kept byte for byte as uploaded.
struct BookAccount {
    std::string name;
    std::string block;
    std::vector<int> tradeIds;
};

// Splits a bookkeeping text into its accounts; false with a message to show
// when it is not one (wrong markers, field counts, non-numeric ids).
bool ParseBookText(const std::string& text, std::vector<BookAccount>& accounts, std::string& error);

struct ServicePlan {
    int planId = 0;
    int accountId = 0;
    int buyType = 0;
    int bonusType = 0;
    int periodsDone = 0;
    int plannedPeriods = 0;
    std::string fundId;
    double money = 0;
    double feeRate = 0;
    int day = 1;
    std::string startDate;  // "%Y-%m-%d"
    std::string lastDate;   // "%Y-%m-%d"
};

struct ServiceFolder {
    int folderId = 0;
    std::string name;
    std::vector<std::string> funds;
};

class CMemberStore {
public:
    explicit CMemberStore(CUserStore& users) : m_users(users) {}

    // Adds the accounts: `replace` swaps out stored accounts of the same
    // name, otherwise they are stored beside them. False: nothing changed.
    bool StoreBook(int userId, const std::vector<BookAccount>& accounts, bool replace, std::string& error);
    // The stored accounts as one bookkeeping text (empty when none).
    bool LoadBook(int userId, std::string& text);

    enum class CancelResult { Cancelled, Unknown, AlreadyCancelled, Failed };
    CancelResult CancelTrade(int userId, int tradeId);

    bool Plans(int userId, std::vector<ServicePlan>& plans);
    // A plan is known by its account and fund. New plans get the next id
    // and the day before their start as last processed day; a save that
    // raises the periods done sets it to `today`.
    bool SavePlan(int userId, ServicePlan& plan, const std::string& today);
    // False when there is no such plan (`found` false) or the store failed.
    bool DeletePlan(int userId, int accountId, const std::string& fundId, bool& found);

    // Funds a member's first folder starts with.
    void SetStarterFunds(std::vector<std::string> funds) { m_starterFunds = std::move(funds); }
    // The member's folders; a member without any gets the two default ones.
    bool Folders(int userId, std::vector<ServiceFolder>& folders);
    enum class FolderResult { Done, NoFolder, AlreadyThere, NotThere, Full, Failed };
    FolderResult AddToFolder(int userId, int folderId, const std::string& fundId);
    FolderResult RemoveFromFolder(int userId, int folderId, const std::string& fundId);

    static constexpr size_t kMaxStoredBookBytes = size_t(32) << 20;
    static constexpr size_t kMaxFolderFunds = 500;
    static constexpr size_t kMaxPlans = 500;

private:
    bool Ready(sqlite3* db);
    bool EnsureFolders(sqlite3* db, int userId);

    CUserStore& m_users;
    bool m_ready = false;  // under the store's lock
    std::vector<std::string> m_starterFunds;
};

}  // namespace vextal
