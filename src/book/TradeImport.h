#pragma once
// Trades brought in from a CSV file (the format is in README.md, "Importing
// trades (CSV)"). Each row goes through the same form checks and the same
// engine calls as the booking dialogs. The whole file is booked in one
// transaction: one refused row and nothing is booked. A dry run books the
// rows the same way and rolls back, so it shows the engine's own figures.
#include <string>
#include <vector>

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
    bool Ok() const { return refusals.empty(); }
};

// The file's bytes as UTF-8: a UTF-8 byte-order mark is dropped, a text that
// is not valid UTF-8 is read as GBK.
std::string DecodeImportText(const std::string& bytes);

// Reads the rows (no booking); refusals for lines that cannot be read.
ImportResult ParseTradeCsv(const std::string& bytes, int accountId);

// Books the rows into the account in date order (a stable sort: the file's
// order within one time) inside one transaction. dryRun, or any refusal:
// rolled back, the manager's lists read again, nothing booked.
// funds: the establishment dates of subscriptions (none: not checked).
ImportResult ImportTrades(CAccountManager& manager, CAdoDatabase& db, int accountId, const std::string& bytes,
                          bool dryRun, const IFundDirectory* funds = nullptr);

}  // namespace vextal
