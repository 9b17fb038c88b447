// The real program in a real window on a virtual display, against the real
// plindo-serve, driven through its automation socket as a user would click:
// a first start with an empty home (database and page files downloaded),
// login, the latest values, a new account, a purchase and a redemption, the
// holdings, a curve, an estimate in trading hours, an export and the
// shutdown; then a second start offline that must show the same books.
// Exit 77 (skipped) where Xvfb is missing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "book/AccountManager.h"
#include "db/AdoDatabase.h"
#include "support/ChildWait.h"

using namespace vextal;
namespace fs = std::filesystem;

namespace {

// Wednesday, in trading hours: the estimate runs, the day's NAV is not out yet.
constexpr const char* kNow = "2024-10-09 14:10:00";
constexpr int kLimitMs = 20000;  // for any one step to show its result

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
    return parts;
}

// Runs argv[0] with `env` added, its output into `log`; it inherits every
// descriptor not marked close-on-exec (Xvfb's -displayfd pipe).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        for (const std::string& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// A private X server; its display number comes back through -displayfd.
struct VirtualDisplay {
    pid_t pid = -1;
    std::string name;

    bool Start(const std::string& log)
    {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24",
                     "-nolisten", "tcp"},
                    {}, log);
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        name = ":" + number;
        return !number.empty();
    }
    ~VirtualDisplay()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// plindo-serve with its request log kept (one line per request, the
// command as "type/id"), on a port of its choice.
struct Service {
    pid_t pid = -1;
    int port = 0;
    std::string log;

    bool Start(const std::string& work)
    {
        log = work + "/service.log";
        fs::create_directories(work + "/service");
        pid = Spawn({PLINDO_SERVE_PATH, "--port", "0", "--data", work + "/service", "--funds", "300", "--now", kNow},
                    {}, log);
        const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
        for (int waited = 0; waited < kLimitMs && port == 0; waited += 100) {
            std::smatch m;
            const std::string text = ReadFile(log);
            if (std::regex_search(text, m, listening)) port = std::atoi(m[1].str().c_str());
            else std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return port > 0;
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
    void Stop()
    {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int status = 0;
        test::WaitChildFor(pid, status, 5000);
        pid = -1;
    }
    ~Service() { Stop(); }
};

// One start of the program, and its automation socket.
class Program {
public:
    Program(const std::string& work, const std::string& display, const std::vector<std::string>& extraEnv)
        : m_socket(work + "/automation.sock"), m_log(work + "/vextal.log")
    {
        std::vector<std::string> env = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "HOME=" + work + "/user",
                                        "XDG_RUNTIME_DIR=" + work, "VEXTAL_NOW=" + std::string(kNow),
                                        "QTWEBENGINE_DISABLE_SANDBOX=1", "TZ=Asia/Shanghai"};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        m_pid = Spawn({VEXTAL_PATH, "--home", work + "/home", "--automation", m_socket}, env, m_log);
    }
    ~Program()
    {
        if (m_fd >= 0) close(m_fd);
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool Connect()
    {
        for (int i = 0; i < 200 && m_fd < 0; ++i) {
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            std::strncpy(a.sun_path, m_socket.c_str(), sizeof a.sun_path - 1);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) m_fd = fd;
            else {
                close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        return m_fd >= 0;
    }

    // One request; its answer's first line, and the rows that follow "ok N" for rows/tree.
    std::string Ask(const std::string& request, std::vector<std::string>* rows = nullptr)
    {
        const std::string line = request + "\n";
        if (write(m_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "error write";
        std::string first = ReadLine();
        if (rows) {
            rows->clear();
            if (first.rfind("ok ", 0) == 0)
                for (int n = std::atoi(first.c_str() + 3); n > 0; --n) rows->push_back(ReadLine());
        }
        return first;
    }

    // Polls `dialog` until the front dialog's title is `title` ("-" for none).
    std::string WaitDialog(const std::string& title)
    {
        std::string answer;
        for (int waited = 0; waited < kLimitMs; waited += 100) {
            answer = Ask("dialog");
            if (answer.rfind("ok " + title, 0) == 0) return answer;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "no dialog " << title << ", last: " << answer << "\n" << Log();
        return answer;
    }

    // Background work done and no dialog open. The program's messages
    // (title "Vextal") are read and closed as a user would; their texts
    // are kept in Messages().
    void WaitIdle()
    {
        for (int waited = 0; waited < kLimitMs; waited += 100) {
            const std::string dialog = Ask("dialog");
            if (dialog.rfind("ok Vextal\t", 0) == 0) {
                m_messages.push_back(dialog.substr(10));
                Ask("accept");
            } else if (dialog == "ok -" && Ask("busy") == "ok 0") {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "still busy: " << Ask("dialog") << "\n" << Log();
    }
    const std::vector<std::string>& Messages() const { return m_messages; }

    // The program's end after `quit`: its exit code, -1 when it did not end.
    int WaitExit()
    {
        int status = 0;
        const bool ended = test::WaitChildFor(m_pid, status, kLimitMs);
        m_pid = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Log() const { return ReadFile(m_log); }

private:
    std::string ReadLine()
    {
        std::string line;
        char c;
        pollfd p{m_fd, POLLIN, 0};
        while (poll(&p, 1, kLimitMs) > 0 && read(m_fd, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    std::string m_socket, m_log;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::vector<std::string> m_messages;
};

void Login(Program& program, bool offline)
{
    program.WaitDialog("登录");
    EXPECT_EQ(program.Ask("set name demo"), "ok");
    EXPECT_EQ(program.Ask("set password demo123"), "ok");
    if (offline) {
        EXPECT_EQ(program.Ask("set 脱机运行 1"), "ok");
    }
    EXPECT_EQ(program.Ask("click 登录"), "ok");
    // The main window, once the post-login work has filled it.
    for (int waited = 0; waited < kLimitMs && program.Ask("page").rfind("ok", 0) != 0; waited += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    program.WaitIdle();
}

// The rows of the account panel: account id, fund code, text.
std::vector<std::vector<std::string>> Tree(Program& program)
{
    std::vector<std::string> lines;
    EXPECT_EQ(program.Ask("tree", &lines).substr(0, 2), "ok");
    std::vector<std::vector<std::string>> items;
    for (const std::string& line : lines) items.push_back(Split(line, '\t'));
    return items;
}

// The rows of the page's list `index` (0: the top one).
std::vector<std::string> Rows(Program& program, int index = 0)
{
    std::vector<std::string> rows;
    EXPECT_EQ(program.Ask("rows " + std::to_string(index), &rows).substr(0, 2), "ok");
    return rows;
}

std::string Money(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

double Round2(double v) { return std::floor(v * 100 + 0.5) / 100; }

int AccountNamed(Program& program, const std::string& name)
{
    for (const auto& item : Tree(program))
        if (item.size() == 3 && item[1].empty() && item[2].find(name) != std::string::npos) return std::atoi(item[0].c_str());
    return 0;
}

// The engine's holdings as stored: "account fund buyType count" per line.
std::string StoredHoldings(const std::string& path)
{
    CAdoDatabase db;
    db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
    db.SetDatabase(path, 0);
    EXPECT_TRUE(db.Open()) << db.GetLastError();
    EXPECT_TRUE(db.OpenRecordset("PRAGMA integrity_check"));
    std::string check;
    db.GetFieldValue("integrity_check", check);
    EXPECT_EQ(check, "ok");
    std::string text;
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT AccountID,FundID,BuyType,TotalCount FROM T_Fund_Trade ORDER BY AccountID,FundID");
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        int account = 0, buyType = 0;
        std::string fund;
        double count = 0;
        db.GetFieldValue(rs, "AccountID", account);
        db.GetFieldValue(rs, "FundID", fund);
        db.GetFieldValue(rs, "BuyType", buyType);
        db.GetFieldValue(rs, "TotalCount", count);
        char line[128];
        std::snprintf(line, sizeof line, "%d %s %d %.2f\n", account, fund.c_str(), buyType, count);
        text += line;
    }
    db.Close();
    return text;
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
        const pid_t refused = Spawn({VEXTAL_PATH, "--home", work + "/home", "--automation", work + "/notes.txt"},
                                    {"DISPLAY=" + display.name, "QT_QPA_PLATFORM=xcb"}, work + "/refused.log");
        int status = 0;
        ASSERT_TRUE(test::WaitChildFor(refused, status, kLimitMs));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ReadFile(work + "/refused.log");
        EXPECT_EQ(ReadFile(work + "/notes.txt"), "mine");
    }

    Service service;
    ASSERT_TRUE(service.Start(work)) << ReadFile(service.log);
    {
        // An empty home but for the address of this run's service.
        std::ofstream ini(work + "/home/Vextal.ini");
        ini << "[Login]\nServerURL=" << service.Base() << "\nDataServerURL=" << service.Base() << "\n";
    }

    std::vector<std::string> holdings, trades;
    std::string fund, held;
    int account = 0;
    {
        Program program(work, display.name, {});
        ASSERT_TRUE(program.Connect()) << program.Log();
        // The channel is its owner's alone.
        struct stat socketMode {};
        ASSERT_EQ(stat((work + "/automation.sock").c_str(), &socketMode), 0);
        EXPECT_EQ(socketMode.st_mode & 0777, 0600u);
        Login(program, false);
        // Downloaded into the empty home: the database and the page files.
        EXPECT_TRUE(fs::exists(work + "/home/Vextal.mdb"));
        EXPECT_TRUE(fs::exists(work + "/home/Html/vextal.htm"));

        // The latest values of the open-end funds: a list of figures.
        ASSERT_EQ(program.Ask("command 32775"), "ok");
        program.WaitIdle();
        const std::vector<std::string> values = Rows(program);
        ASSERT_GT(values.size(), 50u);
        // The first fund: its code, and its NAV of the day before (the list's
        // columns: number, date, name, code, type, NAV, ...).
        const std::vector<std::string> first = Split(values.front(), '\t');
        ASSERT_GT(first.size(), 5u);
        fund = first[3];
        ASSERT_TRUE(std::regex_match(fund, std::regex("[0-9]{6}"))) << values.front();
        EXPECT_EQ(first[1], "2024-10-08");
        const double nav = std::atof(first[5].c_str());
        ASSERT_GT(nav, 0);

        // A new account.
        ASSERT_EQ(program.Ask("command 32779"), "ok");
        program.WaitDialog("新建帐户");
        EXPECT_EQ(program.Ask("set 名称 测试帐户"), "ok");
        EXPECT_EQ(program.Ask("click 新建"), "ok");
        program.WaitIdle();
        ASSERT_EQ(program.Ask("command 32897"), "ok");  // the accounts group, with its panel
        program.WaitIdle();
        account = AccountNamed(program, "测试帐户");
        ASSERT_GT(account, 0);

        // A purchase of 10000 yuan the day before, and a redemption of 1000 shares.
        ASSERT_EQ(program.Ask("select " + std::to_string(account)), "ok");
        ASSERT_EQ(program.Ask("command 32780"), "ok");
        program.WaitDialog("基金购买");
        // The dialog proposes the program's now: the fixed clock, running on.
        EXPECT_EQ(program.Ask("get 交易时间").substr(0, 18), "ok 2024-10-09 14:1");
        EXPECT_EQ(program.Ask("set 基金 " + fund), "ok");
        EXPECT_EQ(program.Ask("set 交易时间 2024-10-08 10:00:00"), "ok");
        EXPECT_EQ(program.Ask("set 购买金额 10000"), "ok");
        EXPECT_EQ(program.Ask("shot " + work + "/purchase.png"), "ok");
        EXPECT_EQ(program.Ask("click 购买"), "ok");
        // What the booking says, if anything, is read and closed like a user would.
        program.WaitIdle();
        ASSERT_EQ(program.Ask("select " + std::to_string(account) + " " + fund), "ok") << program.Ask("tree");

        ASSERT_EQ(program.Ask("command 32781"), "ok");
        program.WaitDialog("基金赎回");
        EXPECT_EQ(program.Ask("set 交易时间 2024-10-08 11:00:00"), "ok");
        EXPECT_EQ(program.Ask("set 赎回份额 1000"), "ok");
        EXPECT_EQ(program.Ask("click 赎回"), "ok");
        program.WaitIdle();

        // The holdings of the account as the window shows them.
        ASSERT_EQ(program.Ask("command 32897"), "ok");
        program.WaitIdle();
        ASSERT_EQ(program.Ask("select " + std::to_string(account)), "ok");
        program.WaitIdle();
        EXPECT_EQ(program.Ask("shot " + work + "/holdings.png"), "ok");
        holdings = Rows(program, 0);
        EXPECT_EQ(program.Ask("pick 0 0"), "ok");
        trades = Rows(program, 1);
        ASSERT_EQ(trades.size(), 2u) << program.Ask("page");
        // The purchase by the rules: the fee charged outside the amount
        // (amount - amount / (1 + rate)), the shares the rest at the NAV, to the cent.
        const std::vector<std::string> purchase = Split(trades[0], '\t');
        ASSERT_GT(purchase.size(), 9u);
        EXPECT_EQ(purchase[3], fund);
        EXPECT_EQ(purchase[7], first[5]);
        const double rate = std::atof(purchase[8].c_str());
        const double fee = Round2(10000 - 10000 / (1 + rate / 100));
        const double shares = Round2((10000 - fee) / nav);
        EXPECT_EQ(purchase[9], Money(fee));
        EXPECT_EQ(purchase[6], Money(shares));
        const std::vector<std::string> redemption = Split(trades[1], '\t');
        ASSERT_GT(redemption.size(), 6u);
        EXPECT_EQ(redemption[6], "1000.00");
        // What is left, and its market value at the NAV, in the holdings list.
        held = Money(shares - 1000);
        ASSERT_GE(holdings.size(), 1u);
        EXPECT_NE(holdings[0].find("\t" + Money(Round2((shares - 1000) * nav)) + "\t"), std::string::npos)
            << holdings[0] << " " << held;
        EXPECT_NE(holdings[0].find("\t" + held), std::string::npos) << holdings[0];

        // The export of that list, saved where the user's documents are.
        ASSERT_EQ(program.Ask("command 32862"), "ok");
        program.WaitIdle();
        int exported = 0;
        if (fs::exists(work + "/user/Documents/Vextal"))
            for (const auto& f : fs::directory_iterator(work + "/user/Documents/Vextal"))
                exported += f.path().extension() == ".xlsx" && fs::file_size(f.path()) > 0;
        if (fs::exists(work + "/user/Vextal"))
            for (const auto& f : fs::directory_iterator(work + "/user/Vextal"))
                exported += f.path().extension() == ".xlsx" && fs::file_size(f.path()) > 0;
        EXPECT_EQ(exported, 1) << testing::PrintToString(program.Messages());

        // A curve of the fund, on its own page.
        ASSERT_EQ(program.Ask("select " + std::to_string(account) + " " + fund), "ok");
        ASSERT_EQ(program.Ask("command 32812"), "ok");
        program.WaitIdle();
        EXPECT_NE(program.Ask("page"), "ok 106");
        EXPECT_EQ(program.Ask("shot " + work + "/curve.png"), "ok");

        // The estimate in trading hours: one row per fund with an estimate.
        ASSERT_EQ(program.Ask("command 32829"), "ok");
        program.WaitIdle();
        EXPECT_EQ(program.Ask("set 全部自选基金 0"), "ok");
        EXPECT_EQ(program.Ask("click 估算"), "ok");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        program.WaitIdle();
        const std::vector<std::string> estimate = Rows(program, 0);
        ASSERT_EQ(estimate.size(), 1u);
        // Its latest NAV, and an estimate made (the clock is in trading hours).
        const std::vector<std::string> estimated = Split(estimate[0], '\t');
        ASSERT_GT(estimated.size(), 3u) << estimate[0];
        EXPECT_EQ(estimated[2], first[5]);
        EXPECT_FALSE(estimated[3].empty()) << estimate[0];
        EXPECT_GT(Rows(program, 1).size(), 1u);  // the holdings it is estimated from
        EXPECT_EQ(program.Ask("shot " + work + "/estimate.png"), "ok");

        ASSERT_EQ(program.Ask("quit"), "ok");
        EXPECT_EQ(program.WaitExit(), 0) << program.Log();
    }
    const std::string stored = StoredHoldings(work + "/home/Vextal.mdb");
    // The engine's stored holding is what the window showed.
    EXPECT_NE(stored.find(std::to_string(account) + " " + fund + " 0 " + held + "\n"), std::string::npos) << stored;

    // The database came from the service, not made locally; the shutdown
    // logged out: the logout command (3/2) reached the service.
    const std::string requests = ReadFile(service.log);
    EXPECT_NE(requests.find(" GET /Update/Vextal.mdb 200 "), std::string::npos) << requests;
    EXPECT_NE(requests.find(" 3/2 200 "), std::string::npos) << requests;

    // Offline, the service gone: the same books.
    service.Stop();
    {
        Program program(work, display.name, {});
        ASSERT_TRUE(program.Connect()) << program.Log();
        Login(program, true);
        ASSERT_EQ(program.Ask("command 32897"), "ok");
        program.WaitIdle();
        ASSERT_EQ(program.Ask("select " + std::to_string(account)), "ok") << program.Ask("tree");
        program.WaitIdle();
        EXPECT_EQ(Rows(program, 0), holdings);
        // The holding's trades below it, once it is chosen.
        EXPECT_EQ(program.Ask("pick 0 0"), "ok");
        EXPECT_EQ(Rows(program, 1), trades);
        EXPECT_EQ(program.Ask("shot " + work + "/offline.png"), "ok");
        ASSERT_EQ(program.Ask("quit"), "ok");
        EXPECT_EQ(program.WaitExit(), 0) << program.Log();
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
