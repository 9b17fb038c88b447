// The real program in a real window on a virtual display, against the real
// plindo-serve, driven through its automation socket as a user would click:
// a first start with an empty home (database and page files downloaded),
// login, the latest values, a new account, a purchase and a redemption, the
// holdings, a curve, an estimate in trading hours, an export and the
// shutdown; then a second start offline that must show the same books.
// Exit 77 (skipped) where Xvfb is missing.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

#include "ServiceProcess.h"
#include "common/Format.h"
#include "support/Automation.h"
#include "support/SpawnLogged.h"
#include "support/StoredHoldings.h"

using namespace vextal;
using vextal::test::ReadWholeFile;
namespace fs = std::filesystem;

namespace {

// Wednesday, in trading hours: the estimate runs, the day's NAV is not out yet.
constexpr const char* kNow = "2024-10-09 14:10:00";
constexpr int kLimitMs = 20000;  // for any one step to show its result

// Polls `done` every 100 ms for at most the step limit.
template <class F>
bool Poll(F done)
{
    return test::WaitUntil(done, kLimitMs, 100);
}

// A private X server; its display number comes back through -displayfd.
struct VirtualDisplay {
    pid_t pid = -1;
    std::string name;

    bool Start(const std::string& log)
    {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid = test::SpawnLogged({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24", "-nolisten",
                     "tcp"},
                    {}, log);
        close(fds[1]);
        name = ":";
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') name += c;
        close(fds[0]);
        return name.size() > 1;
    }
    ~VirtualDisplay()
    {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
};

// One start of the program, and its automation socket.
class Program : public test::AutomationClient {
public:
    Program(const std::string& work, const std::string& display)
        : AutomationClient(work + "/automation.sock", kLimitMs), m_log(work + "/vextal.log")
    {
        m_pid = test::SpawnLogged({VEXTAL_PATH, "--home", work + "/home", "--automation", work + "/automation.sock"},
                      {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "HOME=" + work + "/user", "XDG_RUNTIME_DIR=" + work,
                       "VEXTAL_NOW=" + std::string(kNow), "QTWEBENGINE_DISABLE_SANDBOX=1", "TZ=Asia/Shanghai"},
                      m_log);
    }
    ~Program()
    {
        if (m_pid > 0) kill(m_pid, SIGKILL), waitpid(m_pid, nullptr, 0);
    }

    // Until the front dialog's title is `title`.
    void WaitDialog(const std::string& title)
    {
        EXPECT_TRUE(Poll([&] { return Ask("dialog").rfind("ok " + title, 0) == 0; }))
            << "no dialog " << title << ", last: " << Ask("dialog") << "\n" << Log();
    }

    // Background work done and no dialog open. The program's messages
    // (title "Vextal") are read and closed as a user would; their texts
    // are kept in Messages().
    void WaitIdle()
    {
        EXPECT_TRUE(Poll([this] {
            const std::string dialog = Ask("dialog");
            if (dialog.rfind("ok Vextal\t", 0) == 0) m_messages.push_back(dialog.substr(10)), Ask("accept");
            return dialog == "ok -" && Ask("busy") == "ok 0";
        })) << "still busy: " << Ask("dialog") << "\n" << Log();
    }
    const std::vector<std::string>& Messages() const { return m_messages; }

    // A menu command, and its work done.
    bool Command(int id)
    {
        const bool ok = Ask("command " + std::to_string(id)) == "ok";
        WaitIdle();
        return ok;
    }
    // In the dialog `title` (or the page, for ""): sets each "field value",
    // clicks `button`, and waits for the work the click starts.
    void Fill(const std::string& title, const std::vector<std::string>& sets, const std::string& button)
    {
        if (!title.empty()) WaitDialog(title);
        for (const std::string& set : sets) EXPECT_EQ(Ask("set " + set), "ok") << set;
        EXPECT_EQ(Ask("click " + button), "ok");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WaitIdle();
    }

    // The program's end after `quit`: its exit code, -1 when it did not end.
    int Quit()
    {
        if (Ask("quit") != "ok") return -1;
        int status = 0;
        const bool ended = test::WaitChildFor(m_pid, status, kLimitMs);
        m_pid = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Login(bool offline)
    {
        WaitDialog("登录");
        EXPECT_EQ(Ask("set name demo"), "ok");
        EXPECT_EQ(Ask("set password demo123"), "ok");
        if (offline) {
            EXPECT_EQ(Ask("set 脱机运行 1"), "ok");
        }
        EXPECT_EQ(Ask("click 登录"), "ok");
        // The main window, once the post-login work has filled it.
        Poll([this] { return Ask("page").rfind("ok", 0) == 0; });
        WaitIdle();
    }

    // The rows of the page's list `index` (0: the top one).
    std::vector<std::string> Rows(int index)
    {
        std::vector<std::string> rows;
        EXPECT_EQ(Ask("rows " + std::to_string(index), &rows).substr(0, 2), "ok");
        return rows;
    }

    // The id of the account panel's account `name` (rows: account id, fund code, text).
    int AccountNamed(const std::string& name)
    {
        std::vector<std::string> lines;
        EXPECT_EQ(Ask("tree", &lines).substr(0, 2), "ok");
        for (const std::string& line : lines) {
            const std::vector<std::string> item = SplitText(line, '\t');
            if (item.size() == 3 && item[1].empty() && item[2].find(name) != std::string::npos)
                return static_cast<int>(IntegerOr(item[0], 0));
        }
        return 0;
    }

    std::string Log() const { return ReadWholeFile(m_log); }

private:
    std::string m_log;
    pid_t m_pid = -1;
    std::vector<std::string> m_messages;
};

std::string Money(double v) { return StrFormat("%.2f", v); }
// Rounded to the cent here, not by the program's own function.
double Cents(double v) { return std::floor(v * 100 + 0.5) / 100; }

// The holdings as stored, after the integrity check.
std::string StoredHoldings(const std::string& path)
{
    CAdoDatabase db;
    return test::OpenChecked(db, path) ? test::HoldingLines(db) : "";
}

}  // namespace

TEST(EndToEnd, FirstStartBooksAndExportsThenOfflineStartShowsTheSameBooks)
{
    char tmpl[] = "/tmp/vextal-e2e-XXXXXX";
    const std::string work = mkdtemp(tmpl);
    fs::create_directories(work + "/home");
    fs::create_directories(work + "/user");
    VirtualDisplay display;
    ASSERT_TRUE(display.Start(work + "/xvfb.log"));

    {
        // A file that is not a socket is never replaced by the channel: the program refuses to start.
        std::ofstream(work + "/notes.txt") << "mine";
        const pid_t refused = test::SpawnLogged({VEXTAL_PATH, "--home", work + "/home", "--automation", work + "/notes.txt"},
                                    {"DISPLAY=" + display.name, "QT_QPA_PLATFORM=xcb"}, work + "/refused.log");
        int status = 0;
        ASSERT_TRUE(test::WaitChildFor(refused, status, kLimitMs));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ReadWholeFile(work + "/refused.log");
        EXPECT_EQ(ReadWholeFile(work + "/notes.txt"), "mine");
    }

    // plindo-serve with its request log kept (stderr, one line per request,
    // the command as "type/id"); an empty home but for its address.
    const std::string serviceLog = work + "/service.log", script = work + "/serve.sh";
    std::ofstream(script) << "#!/bin/sh\nexec '" << PLINDO_SERVE_PATH << "' \"$@\" 2>>'" << serviceLog << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    CServiceProcess service(script, {"--funds", "300", "--now", kNow});
    ASSERT_GT(service.Port(), 0) << ReadWholeFile(serviceLog);
    std::ofstream(work + "/home/Vextal.ini") << "[Login]\nServerURL=" << service.Base()
                                             << "\nDataServerURL=" << service.Base() << "\n";

    std::vector<std::string> holdings, trades;
    std::string fund, held;
    int account = 0;
    {
        Program program(work, display.name);
        ASSERT_TRUE(program.Connect()) << program.Log();
        // The channel is its owner's alone.
        struct stat socketMode {};
        ASSERT_EQ(stat((work + "/automation.sock").c_str(), &socketMode), 0);
        EXPECT_EQ(socketMode.st_mode & 0777, 0600u);
        program.Login(false);
        // Downloaded into the empty home: the database and the page files.
        EXPECT_TRUE(fs::exists(work + "/home/Vextal.mdb"));
        EXPECT_TRUE(fs::exists(work + "/home/Html/vextal.htm"));

        // The latest values of the open-end funds: the first fund's code and
        // its NAV of the day before (columns: number, date, name, code, type, NAV, ...).
        ASSERT_TRUE(program.Command(32775));
        const std::vector<std::string> values = program.Rows(0);
        ASSERT_GT(values.size(), 50u);
        const std::vector<std::string> first = SplitText(values.front(), '\t');
        ASSERT_GT(first.size(), 5u);
        fund = first[3];
        ASSERT_TRUE(std::regex_match(fund, std::regex("[0-9]{6}"))) << values.front();
        EXPECT_EQ(first[1], "2024-10-08");
        const double nav = NumberOr(first[5], 0);
        ASSERT_GT(nav, 0);

        // A new account, seen in the accounts group's panel.
        ASSERT_EQ(program.Ask("command 32779"), "ok");
        program.Fill("新建帐户", {"名称 测试帐户"}, "新建");
        ASSERT_TRUE(program.Command(32897));
        account = program.AccountNamed("测试帐户");
        ASSERT_GT(account, 0);
        const std::string selectAccount = "select " + std::to_string(account);

        // A purchase of 10000 yuan the day before; the dialog proposes the
        // program's now (the fixed clock, running on). What the booking
        // says, if anything, is read and closed like a user would.
        ASSERT_EQ(program.Ask(selectAccount), "ok");
        ASSERT_EQ(program.Ask("command 32780"), "ok");
        program.WaitDialog("基金购买");
        EXPECT_EQ(program.Ask("get 交易时间").substr(0, 18), "ok 2024-10-09 14:1");
        EXPECT_EQ(program.Ask("shot " + work + "/purchase.png"), "ok");
        program.Fill("基金购买", {"基金 " + fund, "交易时间 2024-10-08 10:00:00", "购买金额 10000"}, "购买");
        // And a redemption of 1000 shares of the holding.
        ASSERT_EQ(program.Ask(selectAccount + " " + fund), "ok") << program.Ask("tree");
        ASSERT_EQ(program.Ask("command 32781"), "ok");
        program.Fill("基金赎回", {"交易时间 2024-10-08 11:00:00", "赎回份额 1000"}, "赎回");

        // The holdings of the account as the window shows them, and the
        // trades of the first.
        ASSERT_TRUE(program.Command(32897));
        ASSERT_EQ(program.Ask(selectAccount), "ok");
        program.WaitIdle();
        EXPECT_EQ(program.Ask("shot " + work + "/holdings.png"), "ok");
        holdings = program.Rows(0);
        EXPECT_EQ(program.Ask("pick 0 0"), "ok");
        trades = program.Rows(1);
        ASSERT_EQ(trades.size(), 2u) << program.Ask("page");
        // The purchase by the rules: the fee charged outside the amount
        // (amount - amount / (1 + rate)), the shares the rest at the NAV, to the cent.
        const std::vector<std::string> purchase = SplitText(trades[0], '\t');
        ASSERT_GT(purchase.size(), 9u);
        EXPECT_EQ(purchase[3], fund);
        EXPECT_EQ(purchase[7], first[5]);
        const std::optional<double> rate = ParseNumber(purchase[8]);
        ASSERT_TRUE(rate) << trades[0];
        const double fee = Cents(10000 - 10000 / (1 + *rate / 100));
        const double shares = Cents((10000 - fee) / nav);
        EXPECT_EQ(purchase[9], Money(fee));
        EXPECT_EQ(purchase[6], Money(shares));
        const std::vector<std::string> redemption = SplitText(trades[1], '\t');
        ASSERT_GT(redemption.size(), 6u);
        EXPECT_EQ(redemption[6], "1000.00");
        // What is left, and its market value at the NAV, in the holdings list.
        held = Money(shares - 1000);
        ASSERT_GE(holdings.size(), 1u);
        EXPECT_NE(holdings[0].find("\t" + Money(Cents((shares - 1000) * nav)) + "\t"), std::string::npos)
            << holdings[0] << " " << held;
        EXPECT_NE(holdings[0].find("\t" + held), std::string::npos) << holdings[0];

        // The export of that list, saved where the user's documents are.
        ASSERT_TRUE(program.Command(32862));
        int exported = 0;
        for (const char* dir : {"/user/Documents/Vextal", "/user/Vextal"})
            if (fs::exists(work + dir))
                for (const auto& f : fs::directory_iterator(work + dir))
                    exported += f.path().extension() == ".xlsx" && fs::file_size(f.path()) > 0;
        EXPECT_EQ(exported, 1) << testing::PrintToString(program.Messages());

        // A curve of the fund, on its own page.
        ASSERT_EQ(program.Ask(selectAccount + " " + fund), "ok");
        ASSERT_TRUE(program.Command(32812));
        EXPECT_NE(program.Ask("page"), "ok 106");
        EXPECT_EQ(program.Ask("shot " + work + "/curve.png"), "ok");

        // The estimate in trading hours: one row, with the fund's latest NAV
        // and an estimate, over the holdings it is estimated from.
        ASSERT_TRUE(program.Command(32829));
        program.Fill("", {"全部自选基金 0"}, "估算");
        const std::vector<std::string> estimate = program.Rows(0);
        ASSERT_EQ(estimate.size(), 1u);
        const std::vector<std::string> estimated = SplitText(estimate[0], '\t');
        ASSERT_GT(estimated.size(), 3u) << estimate[0];
        EXPECT_EQ(estimated[2], first[5]);
        EXPECT_FALSE(estimated[3].empty()) << estimate[0];
        EXPECT_GT(program.Rows(1).size(), 1u);
        EXPECT_EQ(program.Ask("shot " + work + "/estimate.png"), "ok");
        EXPECT_EQ(program.Quit(), 0) << program.Log();
    }
    // The engine's stored holding is what the window showed.
    const std::string stored = StoredHoldings(work + "/home/Vextal.mdb");
    EXPECT_NE(stored.find(StrFormat("H %d %s 0 %s ", account, fund.c_str(), held.c_str())), std::string::npos) << stored;

    // The database came from the service, not made locally; the shutdown
    // logged out: the logout command (3/2) reached the service.
    const std::string requests = ReadWholeFile(serviceLog);
    EXPECT_NE(requests.find(" GET /Update/Vextal.mdb 200 "), std::string::npos) << requests;
    EXPECT_NE(requests.find(" 3/2 200 "), std::string::npos) << requests;

    // Offline, the service gone: the same books.
    service.Stop();
    {
        Program program(work, display.name);
        ASSERT_TRUE(program.Connect()) << program.Log();
        program.Login(true);
        ASSERT_TRUE(program.Command(32897));
        ASSERT_EQ(program.Ask("select " + std::to_string(account)), "ok") << program.Ask("tree");
        program.WaitIdle();
        EXPECT_EQ(program.Rows(0), holdings);
        EXPECT_EQ(program.Ask("pick 0 0"), "ok");
        EXPECT_EQ(program.Rows(1), trades);
        EXPECT_EQ(program.Ask("shot " + work + "/offline.png"), "ok");
        EXPECT_EQ(program.Quit(), 0) << program.Log();
    }
    EXPECT_EQ(StoredHoldings(work + "/home/Vextal.mdb"), stored);
    if (!HasFailure()) fs::remove_all(work);
    else std::fprintf(stderr, "kept for a look: %s\n", work.c_str());
}

int main(int argc, char** argv)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0) {
        std::puts("end_to_end: no Xvfb, skipped");
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
