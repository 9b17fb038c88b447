#pragma once
// Trades brought in from a CSV file (the format is in README.md, "Importing
// trades (CSV)"). Each row goes through the same form checks and the same
// engine calls as the booking dialogs. The whole file is booked in one
// transaction: one refused row and nothing is booked. A dry run books the
// rows the same way and rolls back, so it shows the engine's own figures.
//
// A file of many rows runs on a worker (ImportTradesElsewhere): an engine of
// its own on a connection of its own asks the service and books, and the
// window's engine reads the account again once the file is committed, so
// no list ever shows half a file.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "book/BookServices.h"
#include "db/AdoDatabase.h"

#include "book/BookTypes.h"

namespace vextal {

class CAccountManager;
class CAdoDatabase;
class IFundDirectory;

enum class ImportKind { Purchase, Subscription, Redemption, Conversion, CashDividend, ReinvestDividend };
const char* ImportKindName(ImportKind kind);

struct ImportRow {
    int line = 0;  // 1-based line in the file
    ImportKind kind = ImportKind::Purchase;
    double nav = 0;  // the file's NAV, 0 when left out
    TradeInfo trade;  // as read; after a run: as the engine booked it
    double feeYuan = 0;  // after a run: the fee in yuan
    bool duplicate = false;  // the account already holds this trade
};

struct ImportRefusal {
    int line = 0;  // 0: the file as a whole (no account, no rows, a database failure)
    std::string reason;
    std::string Text() const;  // "第3行：...", or the reason alone for line 0
};

struct ImportResult {
    std::vector<ImportRow> rows;
    std::vector<ImportRefusal> refusals;  // in line order
    bool booked = false;                  // the rows are in the books
    bool cancelled = false;               // stopped by the user: nothing booked
    bool Ok() const { return refusals.empty(); }
};

// The file's lines as UTF-8: UTF-8 with or without its byte-order mark,
// UTF-16 with its mark, or else GBK line by line; a line none of them
// reads is kept as unreadable, so it is refused by its number.
struct ImportText {
    std::vector<std::string> lines;
    std::vector<bool> readable;
    std::string refusal;  // the file as a whole cannot be read
};
ImportText DecodeImportText(const std::string& bytes);

// Reads the rows (no booking); refusals for lines that cannot be read.
ImportResult ParseTradeCsv(const std::string& bytes, int accountId);

// What a run is told and tells while it books: a cancel, looked at before
// each row and before the commit, and the rows done of all.
struct ImportControl {
    const std::atomic<bool>* cancelled = nullptr;
    std::function<void(size_t done, size_t total)> progress;
    // Rows the account already holds are booked again only when the user said so.
    bool bookDuplicates = false;
};

// The lines of rows the account already holds: a confirmed trade of the same
// day, fund and kind, with the same amount (shares for redemptions and
// conversions). Each trade answers one row.
std::set<int> DuplicateLines(const std::vector<ImportRow>& rows, const AccountInfo& account);

// Books the rows into the account in date order (a stable sort: the file's
// order within one time) inside one transaction, without automatic
// dividends: the file carries its own. Duplicates are marked, and booked
// only with control.bookDuplicates. dryRun, a cancel, or any refusal:
// rolled back, the manager's lists read again, nothing booked.
// funds: the establishment dates of subscriptions (none: not checked).
ImportResult ImportTrades(CAccountManager& manager, CAdoDatabase& db, int accountId, const std::string& bytes,
                          bool dryRun, const IFundDirectory* funds = nullptr, const ImportControl& control = {});

// What a run on a worker knows of the funds it books, taken on the
// window's thread: catalogue membership, money-market type, establishment.
class CFundFacts : public IFundDirectory {
public:
    CFundFacts(const IFundDirectory* from, const std::vector<std::string>& fundIds);
    bool IsMoneyMarketFund(const std::string& fundId) const override;
    bool IsKnownFund(const std::string& fundId) const override;
    bool GetEstablishDate(const std::string& fundId, OleDate& date) const override;
    bool GetLatestNav(const std::string&, LatestNav&) const override { return false; }

private:
    struct Fact {
        bool known = true, moneyMarket = false, established = false;
        OleDate establishDate;
    };
    std::map<std::string, Fact> m_facts;
};

// Everything a worker's run needs, taken on the window's thread.
struct ImportJob {
    CAdoDatabase db;  // the window's: only its file and key are used
    IBookServices* services = nullptr;
    bool offline = false;
    int userId = 0;
    int accountId = 0;
    std::string bytes;
    bool dryRun = true;
    std::shared_ptr<CFundFacts> funds;  // read only, on the worker
    size_t rows = 0;                    // rows read from the file
    size_t duplicates = 0;              // rows the account already holds
    bool bookDuplicates = false;        // the user said to book them again
};
// The funds of the file and of the account's holdings, from the window's engine.
ImportJob PrepareImport(CAccountManager& manager, const CAdoDatabase& db, const IFundDirectory* funds, int accountId,
                        const std::string& bytes, bool dryRun);
// Runs the job on this thread through an engine and a connection of its own.
ImportResult ImportTradesElsewhere(const ImportJob& job, const ImportControl& control);

}  // namespace vextal
