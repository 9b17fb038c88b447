#pragma once
// The bookkeeping engine: the logged-in user's accounts, holdings and
// trades, booking, dividends. The document owns one and hands it the
// database, the user, the offline flag and the outside services.
//
// Every operation that writes more than one statement runs in one database
// transaction: a failure or a crash midway leaves the database as it was
// before the operation. Dividends that a booking applies before or after
// itself are their own steps.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "book/BookServices.h"
#include "book/BookTypes.h"
#include "book/Income.h"
#include "db/AdoDatabase.h"

namespace vextal {

class CAccountManager {
public:
    CAccountManager();
    ~CAccountManager();

    // What the document hands over after login.
    void Init(const CAdoDatabase& db, int userId, bool offline, IBookServices* services, IFundDirectory* funds);
    void SetOffline(bool offline) { m_offline = offline; }
    void SetFundZeroHide(bool hide) { m_fundZeroHide = hide; }
    // The display settings of the income figures: ShowRealtimeFlag, and the
    // date the latest values are expected for (the document's value date).
    void SetIncomeSettings(bool showRealtime, const OleDate& currentValueDate)
    {
        m_showRealtime = showRealtime;
        m_currentValueDate = currentValueDate;
    }
    void SetShowRealtime(bool showRealtime) { m_showRealtime = showRealtime; }
    void SetRealtimeEstimates(const IRealtimeEstimates* estimates) { m_estimates = estimates; }
    // Called after the automatic dividends of all holdings (fixed-investment plans).
    void SetAfterDividendsAll(std::function<void(int userId)> f) { m_afterDividendsAll = std::move(f); }
    // Test hook: called between the statements of a booking with a label.
    void SetPausePoint(std::function<void(const char*)> f) { m_pausePoint = std::move(f); }
    // The one listener told which accounts changed, once at the end of each
    // operation that committed changes to them (a booking with its
    // dividends, an edit or deletion, an account created, renamed or
    // deleted, a merged download, a plan run, rows another connection
    // wrote), their figures already recomputed. Nothing is told for changes
    // rolled back.
    using ChangeListener = std::function<void(const std::vector<int>& accountIds)>;
    void SetChangeListener(ChangeListener listener) { m_changeListener = std::move(listener); }
    // Rows another connection committed to the account (an import on a
    // worker): its holdings and trades read again, and the listener told.
    bool TakeCommittedRows(int accountId);
    // An engine made for one job (an import on a worker, through a
    // connection of its own) does not run the login-time dividends.
    void SkipDividendsAll() { m_fundBonusApplied = 1; }
    IBookServices* Services() const { return m_services; }
    bool IsOffline() const { return m_offline; }

    int GetUserID() const { return m_userId; }
    const std::string& GetLastErrorText() const;
    const std::map<int, std::unique_ptr<AccountInfo>>& Accounts() const { return m_accounts; }
    AccountInfo* FindAccount(int accountId);
    FundTradeInfo* FindHolding(const HoldingKey& key);

    // Accounts
    bool LoadAccounts(int userId);
    bool CreateAccount(AccountInfo& account);
    bool RenameAccount(const AccountInfo& account);
    bool DeleteAccount(const AccountInfo& account);
    bool RefreshAccount(int accountId);
    bool RefreshAccount(const AccountInfo& account) { return RefreshAccount(account.AccountID); }

    // Income. The annualised returns of the holdings and of the account
    // (accountId 0: every account), kept until the next call; their flows
    // are the confirmed trades and today's market value.
    void RefreshAnnualRates(int accountId);
    // The trade income list of one account (0: every account of the user),
    // optionally of one fund, from the database and the holdings' figures.
    bool LoadTradeIncome(int accountId, const std::string& fundId, std::vector<TradeIncomeRow>& rows);
    // Asks the service for each row's interval figures (no database: may
    // run on a worker). Rows without an answer keep them empty.
    void FetchIntervalFigures(std::vector<TradeIncomeRow>& rows) const;

    // Holdings. EnsureHolding: 1 existed, 0 created, -1 failed.
    int EnsureHolding(const TradeInfo& trade);
    bool AddShares(const TradeInfo& trade);
    bool RemoveShares(const TradeInfo& trade, bool all);
    bool SetShares(const TradeInfo& trade);
    // Counts from the confirmed trades in the order they happened (a split
    // replaces the running count), dividend sums from the dividend trades.
    bool RecomputeHolding(const TradeInfo& trade, bool cancelling);
    // accountId 0: every account.
    bool RecomputeCostValues(int accountId = 0);
    bool MoveHolding(int toAccount, int fromAccount, const std::string& fundId, int buyType);
    bool DeleteFundBookkeeping(const HoldingKey& key);
    bool SetBonusType(const HoldingKey& key, int bonusType);
    bool SetSaleFee(const FundTradeInfo& holding);
    // accountId 0: every account of the user. Reads the holdings and asks
    // the accumulated income of each money-market holding once.
    bool LoadHoldings(int accountId);
    // The halves of LoadHoldings: the rows alone, the income questions to the
    // service (no database), and their answers written.
    bool ReadHoldings(int accountId);
    struct MoneyIncome {
        HoldingKey key;
        double amount = 0;
        OleDate date;
    };
    std::vector<MoneyIncome> FetchMoneyIncome(int accountId) const;
    bool StoreMoneyIncome(const std::vector<MoneyIncome>& answers);
    // Once per start: remainders below one share count as an empty holding.
    bool ClearShareRemainders();

    // Trades. BookTrade: 0 booked and confirmed, -1 failed (GetLastErrorText),
    // kBookedWithWarning booked and confirmed, but a later step (dividends,
    // average costs) failed: GetLastWarningText says which and why.
    static constexpr int kBookedWithWarning = 1;
    int BookTrade(TradeInfo& trade);
    // A run of many bookings (an import) leaves the account's trade list and
    // the average costs to one recomputation at its end, FinishBookings,
    // instead of one over all trades after each booking. Each booking still
    // reads the holdings and their money-market income and clears the new
    // cash dividends of an emptied holding, as later bookings must see them,
    // so the end state is the one the bookings give one by one.
    void DeferRecompute(bool defer) { m_deferRecompute = defer; }
    // Off: bookings apply no dividends of their own, before or after them (an
    // import, whose file carries its own dividends).
    void SetAutomaticDividends(bool on) { m_autoDividends = on; }
    bool FinishBookings(int accountId);
    const std::string& GetLastWarningText() const { return m_lastWarning; }
    static double GetTradeFee(TradeInfo& trade);
    bool GetFundTradeValueFormServer(TradeInfo& trade);
    // Delete and edit: true when the trade is gone or saved; a failed
    // recomputation afterwards leaves GetLastWarningText.
    bool DeleteTrade(const TradeInfo& trade);
    bool EditTrade(const TradeInfo& trade);
    bool CancelTrade(const TradeInfo& trade);
    // The service took the trade back (asked elsewhere): it leaves the
    // account's confirmed trades; the local tables keep the row.
    void DropCancelledTrade(int accountId, int tradeId);
    // Reads a T_Trade_Info row of the current or given result set.
    bool ReadTrade(const RecordsetPtr& rs, TradeInfo& trade);

    // Dividends. The mixed-mode ranges of the user's holdings.
    bool LoadUserBonus();
    const std::vector<UserBonusInfo>& UserBonus() const { return m_userBonus; }
    bool SaveUserBonus(UserBonusInfo& record);
    bool DeleteUserBonus(int bonusId);
    bool GetBonusTypeForDate(const HoldingKey& key, const OleDate& date, int& bonusType) const;
    bool IsRangeOverlapping(const UserBonusInfo& record) const;
    // holding: key, BonusType, share count in TradeCount, start in TradeTime.
    // Books the dividends in date order and stops at the first that fails
    // (false, error text set), so LastBonus stays before it and the next run
    // retries it. A money-market fund has no dividends: its income query
    // (LoadHoldings) covers it, so the service is not asked.
    bool ApplyDividends(TradeInfo holding, bool newSharesOnly, bool moneyMarket);
    // The two halves of ApplyDividends: asking the service, and booking
    // its answer (reinvested dividends still ask each one's NAV).
    int FetchDividends(const TradeInfo& holding, std::vector<DividendItem>& items, std::string& error);
    bool BookDividends(const TradeInfo& holding, const std::vector<DividendItem>& items, bool newSharesOnly);
    bool ApplyDividendsAll(int userId);
    int BookDividend(TradeInfo& trade);
    // 0, -1 or kBookedWithWarning, as BookTrade.
    int ManualDividend(TradeInfo& trade);

    // Synchronisation with the service. The text: per account of the user
    // "_A_" row "_A_", "_F_" holdings "_F_", "_T_" trades "_T_", accounts
    // joined by "|", columns in the fixed order of the schema.
    void SetVip(bool vip) { m_vip = vip; }
    // False (GetLastErrorText) when the database fails, or when the text
    // could not travel whole: a character the service cannot keep, two
    // accounts arriving under one name. Nothing is sent then.
    bool ExportBookkeeping(std::string& text);
    // Network only, touching no member (may run on a worker).
    bool SendBookkeeping(const std::string& text, bool createNew, std::string& error) const;
    bool FetchBookkeeping(std::string& text, std::string& error) const;
    // Database only. The whole text is read before anything is written: a
    // broken text changes nothing. Each account is then merged in its own
    // transaction. createNew: an account whose name is taken gets the name
    // followed by 1, 2, ...; otherwise the local account of that name is
    // emptied and receives the uploaded holdings and trades.
    bool MergeBookkeeping(const std::string& text, bool createNew);
    bool UploadBookkeeping(bool createNew);
    bool DownloadBookkeeping(bool createNew);

    // Fixed-investment plans, kept at the service and held here.
    using PlanKey = std::pair<int, std::string>;  // AccountID, FundID
    const std::map<PlanKey, PlanInfo>& Plans() const { return m_plans; }
    bool LoadPlans();
    // The list as a worker asked it of the service (no request here).
    void SetPlans(std::vector<PlanInfo> plans);
    // 0 saved (and processed), 1 saved but a due purchase failed and waits
    // for the next run, -1 failed (GetLastErrorText).
    int SavePlan(PlanInfo& plan);
    // Books the purchases due since the plan's last processed day; stops at
    // the first failed booking (false), which the next run retries.
    bool ProcessPlan(PlanInfo& plan);
    bool ProcessPlans();
    bool DeletePlan(const PlanInfo& plan);

private:
    // The operation running outermost collects the accounts it changed and
    // tells the listener when it ends.
    class ChangeScope {
    public:
        explicit ChangeScope(CAccountManager& m) : m_m(m) { ++m_m.m_changeDepth; }
        ~ChangeScope()
        {
            if (--m_m.m_changeDepth == 0) m_m.Announce();
        }
        ChangeScope(const ChangeScope&) = delete;
        ChangeScope& operator=(const ChangeScope&) = delete;

    private:
        CAccountManager& m_m;
    };
    // The account's rows changed for good: outside any transaction (a
    // commit that only ends an inner one counts with its outer one).
    void Changed(int accountId);
    bool Commit(CAdoTransaction& trans, int accountId);
    void Announce();

    bool Fail(const std::string& text);
    bool FailDb(const std::string& prefix = std::string());
    void Pause(const char* label);
    bool IsMoneyMarket(const std::string& fundId) const;
    bool Exec(const std::string& sql);
    // A statement whose values are "?" markers, bound in order.
    bool ExecBound(const std::string& sql, const FieldValueList& values);
    // The same, ending in " WHERE " and the holding's key as bound values.
    bool ExecOnHolding(const std::string& head, FieldValueList values, const HoldingKey& key);
    bool LoadHoldingBonus(const HoldingKey& key, std::vector<UserBonusInfo>& out);
    void Warn(const std::string& step);

    // Booking steps (inside the booking's transaction).
    bool ValidateTrade(TradeInfo& trade);
    bool CheckSplitOrder(const TradeInfo& trade);
    bool InsertTrade(TradeInfo& trade);
    bool FinalUpdate(const TradeInfo& trade);
    bool WriteRemark(const TradeInfo& trade);
    bool BookPurchase(TradeInfo& trade);
    bool BookRedemption(TradeInfo& trade);
    bool BookQuick(TradeInfo& trade);
    bool BookSplit(TradeInfo& trade);
    bool RestartDividendsIfEmpty(const TradeInfo& trade);
    bool AddSubscriptionInterest(TradeInfo& trade);
    bool ApplyExistingHoldingDividends(const TradeInfo& trade);
    bool ApplyNewShareDividends(const TradeInfo& trade, bool oldSharesCovered);
    bool BookOneDividend(const TradeInfo& holding, const DividendItem& item, int mode, double shares, bool newSharesOnly,
                         double& addedShares);
    bool ReadHoldingRow(const RecordsetPtr& rs, FundTradeInfo& h);
    // The share count the holding's confirmed trades give.
    bool ReplayHolding(const HoldingKey& key, double& count);
    // A holding's cash sum beyond its cash dividend trades (money-market
    // income), kept across a recomputation from the trades.
    double IncomeBesideTrades(const HoldingKey& key);
    bool KeepIncomeBesideTrades(const HoldingKey& key, double income);
    // Dividends due before a split, paid on the shares before it.
    bool ApplyDividendsBeforeSplit(const TradeInfo& split);
    // After a booking: the full recomputation, or what a deferred run needs.
    bool AfterBooking(int accountId);
    // The rows of one account's holdings (0: all) into memory, nothing else.
    bool ReadHoldingRows(int accountId);
    void RecomputeAccountSums(AccountInfo& account);
    // The account's trades, holdings and sums read again (0: every account
    // of the user, in one read of their trades), then its income figures.
    bool RefreshAccountSums(int accountId);
    // The income figures of the account and its holdings (the refresh's last step).
    void ComputeIncome(AccountInfo& account);
    LatestNav LatestValueOf(const std::string& fundId) const;

    CAdoDatabase m_db;
    int m_userId = 0;
    bool m_offline = false;
    bool m_fundZeroHide = false;
    bool m_showRealtime = false;
    OleDate m_currentValueDate;
    const IRealtimeEstimates* m_estimates = nullptr;
    IBookServices* m_services = nullptr;
    IFundDirectory* m_funds = nullptr;
    std::map<int, std::unique_ptr<AccountInfo>> m_accounts;
    std::vector<UserBonusInfo> m_userBonus;
    mutable std::string m_lastError;
    std::string m_lastWarning;
    int m_fundBonusApplied = 0;
    OleDate m_lastDividendBooked;  // the latest dividend the last ApplyDividends booked
    bool m_vip = false;
    bool m_deferRecompute = false;
    bool m_autoDividends = true;
    std::map<PlanKey, PlanInfo> m_plans;
    std::function<void(int)> m_afterDividendsAll;
    ChangeListener m_changeListener;
    std::set<int> m_changed;
    int m_changeDepth = 0;
    std::function<void(const char*)> m_pausePoint;
};

}  // namespace vextal
