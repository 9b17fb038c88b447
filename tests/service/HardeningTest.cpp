// plindo-serve as a hostile client meets it: slow and idle connections,
// oversized heads and bodies, payloads that must not be read before the
// login is checked, and the service still answering everyone else.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <thread>
#include <vector>

#include "HostileClients.h"
#include "PlindoServer.h"
#include "common/Format.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "support/Files.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

int Connect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` (as far as the service takes it) and reads until it
// closes or `ms` pass: the whole answer text.
std::string Exchange(int port, const std::string& request, int ms = 10000)
{
    const int fd = Connect(port);
    if (fd < 0) return "no connection";
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string answer;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) break;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        answer.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, 12); }

const char* kCommandPath = "/plindo/client/ClientService.asmx/SendCommand";

std::string Post(const std::string& body, const std::string& extraHeaders = "")
{
    return std::string("POST ") + kCommandPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + extraHeaders +
           StrFormat("Content-Length: %zu\r\n\r\n", body.size()) + body;
}

class Hardening : public test::ServiceSuite {
protected:
    static void SetUpTestSuite() { StartSuite({7, 200, "2024-10-09 21:00:00"}); }
    static int Port() { return s_service->Process().Port(); }
    static std::string Msg(const std::string& httpAnswer)
    {
        int ret = 0;
        std::string msg;
        ParseCommandAnswer(httpAnswer, ret, msg);
        return GbkToUtf8(msg);
    }
};

TEST_F(Hardening, HeadsAndBodiesOverTheirLimitsAreRefusedEarly)
{
    const std::string css = "GET /stylemain.css HTTP/1.1\r\nHost: x\r\n";
    std::string manyLines = css;
    for (int i = 0; i < 10000; ++i) manyLines += StrFormat("X-Line-%d: y\r\n", i);
    std::string chunked = std::string("POST ") + kCommandPath +
                          " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string piece(1 << 20, 'x');
    for (int i = 0; i < 6; ++i) chunked += StrFormat("%zx\r\n", piece.size()) + piece + "\r\n";
    chunked += "0\r\n\r\n";
    struct Case { std::string request, status; };
    const Case cases[] = {
        {manyLines + "\r\n", "HTTP/1.1 431"},
        {css + "X-Long: " + std::string(20000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
        {chunked, "HTTP/1.1 413"},
        {Post(std::string(kMaxRequestBytes + 1, 'x')), "HTTP/1.1 413"},
        {css + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab", "HTTP/1.1 400"},
        {"GET /stylemain.css\r\n\r\n", "HTTP/1.1 400"},
        {"GET /nothing-here HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 404"},
    };
    for (const Case& c : cases) EXPECT_EQ(StatusLine(Exchange(Port(), c.request)), c.status) << c.request.substr(0, 60);

    // A chunked body within the cap is read whole; two requests share a connection.
    const std::string body = BuildCommand(2, 22, "000001", "");
    const std::string small = std::string("POST ") + kCommandPath + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                              StrFormat("%zx\r\n", body.size() / 2) + body.substr(0, body.size() / 2) + "\r\n" +
                              StrFormat("%zx;ext=1\r\n", body.size() - body.size() / 2) + body.substr(body.size() / 2) +
                              "\r\n0\r\nX-Trailer: 1\r\n\r\n";
    const std::string both = Exchange(Port(), small + css + "Connection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(both), "HTTP/1.1 200");
    EXPECT_EQ(Msg(both), kLoginFirst);
    EXPECT_NE(both.find("body{"), std::string::npos) << both;
}

// The login is checked, and the field count, before the payload is decoded
// or split: a stranger's upload is refused for the login, whatever it holds.
// Requests sent back to back on one connection are each answered, in order.
// One answer from a kept connection; what came after it stays in `in`.
std::string ReadAnswer(int fd, std::string& in)
{
    for (;;) {
        const size_t end = in.find("\r\n\r\n");
        if (end != std::string::npos) {
            const size_t at = in.find("Content-Length: ");
            const size_t whole = end + 4 + (at < end ? static_cast<size_t>(IntegerOr(in.substr(at + 16, in.find('\r', at) - at - 16), 0)) : 0);
            if (in.size() >= whole) {
                std::string answer = in.substr(0, whole);
                in.erase(0, whole);
                return answer;
            }
        }
        pollfd p{fd, POLLIN, 0};
        char buf[8192];
        const ssize_t n = poll(&p, 1, 5000) == 1 ? recv(fd, buf, sizeof buf, 0) : -1;
        if (n <= 0) return "closed";
        in.append(buf, static_cast<size_t>(n));
    }
}

// A client that sends its next request as soon as it has an answer is
// served by the worker that answered it: requests whole, in parts, several
// at once, with bodies or broken are answered as on a new connection, and the
// connection still ends after its 1000th.
TEST_F(Hardening, RequestsSentOnReceiptOfTheAnswerAreReadLikeAnyOther)
{
    CommandContext demo = Login();
    const std::string css = "GET /stylemain.css HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string missing = "GET /no-such-page HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string body = BuildCommand(2, 22, "000001", demo.loginId);
    const std::string command = std::string("POST ") + kCommandPath + " HTTP/1.1\r\nHost: x\r\n" +
                                StrFormat("Content-Length: %zu\r\n\r\n", body.size()) + body;
    const int fd = Connect(Port());
    ASSERT_GE(fd, 0);
    auto put = [fd](const std::string& bytes) { return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; };
    std::string in;
    int answered = 0, unexpected = 0;
    auto expect = [&](const char* status) {
        const std::string answer = ReadAnswer(fd, in);
        ++answered;
        const bool last = answered == 1000;
        if (answer.rfind(status, 0) != 0 ||
            answer.find(last ? "Connection: close" : "Connection: keep-alive") == std::string::npos)
            ++unexpected;
    };
    while (answered < 1000) {
        const int i = answered;
        if (i % 100 == 1 && i < 998) {
            ASSERT_TRUE(put(css + missing));  // two in one write: answered in order
            expect("HTTP/1.1 200");
            expect("HTTP/1.1 404");
        } else if (i % 100 == 2) {
            ASSERT_TRUE(put(command.substr(0, 40)));  // in two parts, the head unfinished
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ASSERT_TRUE(put(command.substr(40)));
            expect("HTTP/1.1 200");
        } else {
            ASSERT_TRUE(put(i % 3 ? css : command));
            expect("HTTP/1.1 200");
        }
    }
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(ReadAnswer(fd, in), "closed");
    close(fd);

    // A broken request right after an answer is refused as ever.
    const int again = Connect(Port());
    ASSERT_GE(again, 0);
    in.clear();
    ASSERT_GT(send(again, css.data(), css.size(), MSG_NOSIGNAL), 0);
    EXPECT_EQ(StatusLine(ReadAnswer(again, in)), "HTTP/1.1 200");
    ASSERT_GT(send(again, "BOGUS\r\n\r\n", 9, MSG_NOSIGNAL), 0);
    EXPECT_EQ(StatusLine(ReadAnswer(again, in)), "HTTP/1.1 400");
    EXPECT_EQ(ReadAnswer(again, in), "closed");
    close(again);
}

TEST_F(Hardening, CommandAndLoginCheckedBeforeThePayload)
{
    CommandContext demo = Login();
    const std::string notGbk = "_A_1|2|\x81\x20|0|0|0|0|2024-01-01_A__F__F__T__T_";
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(4, 6, notGbk, "")))), kLoginFirst);
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(4, 6, notGbk, demo.loginId)))), "记帐数据编码错误");
    std::string codes = "000001";
    for (int i = 0; i < 5000; ++i) codes += "|000001";
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(2, 22, codes, demo.loginId)))), kDataFormatError);
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(2, 5, codes, demo.loginId)))), kDataFormatError);
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(9, 9, codes, demo.loginId)))), kUnknownCommand);
    EXPECT_TRUE(SendLatestValue(demo, "000001").status != CommandStatus::SendFailed);
}

// A body whose start already settles it is answered at once: the client
// below sends a sliver of what its Content-Length promises, and the answer
// comes without the rest. (A live login's body is read on as usual:
// CommandAndLoginCheckedBeforeThePayload.)
TEST_F(Hardening, RefusedFromTheStartOfTheBody)
{
    CommandContext demo = Login();
    const size_t promised = size_t(1) << 20;
    struct Case { std::string start; const char* msg; };
    const Case cases[] = {
        {"cmdtype=4&cmdid=6&loginid=&data=" + std::string(1000, '|'), kLoginFirst},
        {"cmdtype=4&cmdid=6&loginid=" + std::string(32, 'f') + "&data=|||", kLoginFirst},
        {"cmdtype=2&cmdid=22&data=000001|000002", kDataFormatError},
        {"cmdtype=9&cmdid=9&loginid=" + demo.loginId + "&data=", kUnknownCommand},
    };
    for (const Case& c : cases) {
        const std::string head = std::string("POST ") + kCommandPath + " HTTP/1.1\r\nHost: x\r\n" +
                                 StrFormat("Content-Length: %zu\r\n\r\n", promised);
        EXPECT_EQ(Msg(Exchange(Port(), head + c.start, 5000)), c.msg) << c.start.substr(0, 40);
    }
}

TEST_F(Hardening, PasswordChangeNeedsTheOldOneAndEndsTheOtherLogins)
{
    ASSERT_TRUE(SendRegister(Anonymous(), "pwuser", "p@x.cn", "改密", "old1").ok());
    CommandContext here = Login("pwuser", "old1"), there = Login("pwuser", "old1");
    const int id = static_cast<int>(IntegerOr(s_service->LoginReply("pwuser", "old1").fields.at(0), -1));
    EXPECT_EQ(SendUserUpdate(here, id, "p@x.cn", "改密", "new1", "wrong").error, "旧密码不正确");
    // The four-field form: the password field must be the one in force, and stays.
    const std::string fourFields = JoinFields({std::to_string(id), "p@x.cn", "four", UrlEncode(EncryptText("new1", kCipherKey))});
    EXPECT_EQ(Msg(Exchange(Port(), Post(BuildCommand(3, 4, fourFields, here.loginId)))), "旧密码不正确");
    EXPECT_TRUE(SendCompanyList(there).ok());
    ASSERT_TRUE(SendUserUpdate(here, id, "p@x.cn", "改密", "new1", "old1").ok());
    EXPECT_EQ(SendCompanyList(there).error, kLoginFirst);
    EXPECT_TRUE(SendCompanyList(here).ok());
    EXPECT_FALSE(s_service->LoginReply("pwuser", "old1").ok());
    EXPECT_TRUE(s_service->LoginReply("pwuser", "new1").ok());
}

TEST_F(Hardening, NamesAreOneAfterFoldingAndFailedLoginsBackOff)
{
    for (const char* taken : {"Demo", "DEMO", "ｄｅｍｏ", "ＦＲＥＥ"})
        EXPECT_EQ(SendRegister(Anonymous(), taken, "d@x.cn", "n", "pw").error, "该用户名已经被注册") << taken;
    EXPECT_TRUE(s_service->LoginReply("ＤＥＭＯ", "demo123").ok());

    ASSERT_TRUE(SendRegister(Anonymous(), "slowme", "s@x.cn", "n", "right").ok());
    // A few failures are free, and a success clears them.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(s_service->LoginReply("slowme", "wrong").error, "用户名或密码错误");
        EXPECT_TRUE(s_service->LoginReply("slowme", "right").ok()) << round;
    }
    // Then the right password waits too, under every spelling of the name.
    for (int i = 0; i < 4; ++i) s_service->LoginReply("slowme", "wrong");
    for (const char* name : {"slowme", "SLOWME"}) {
        CommandReply r = s_service->LoginReply(name, "right");
        EXPECT_FALSE(r.ok()) << name;
        EXPECT_NE(r.error.find("登录失败次数过多"), std::string::npos) << r.error;
    }
    // Per address: failures under many names slow every name from it.
    for (int i = 0; i < 12; ++i) s_service->LoginReply(StrFormat("nobody%d", i), "x");
    EXPECT_NE(s_service->LoginReply("demo", "demo123").error.find("登录失败次数过多"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // so the suite's other logins pass
}

// What the service keeps in its folder: for its own account only, login
// ids only as hashes, no registered password, and no second service on it.
TEST_F(Hardening, DataFolderIsPrivateAndHeldByOneService)
{
    CommandContext demo = Login();
    ASSERT_TRUE(SendRegister(Anonymous(), "newbie", "n@x.cn", "新人", "Zq9secretPw").ok());
    EXPECT_TRUE(s_service->LoginReply("newbie", "Zq9secretPw").ok());
    EXPECT_FALSE(s_service->LoginReply("newbie", "Zq9secretPx").ok());
    const std::string dir = s_service->DataDir();
    struct stat st{};
    for (const char* name : {"/plindo.db", "/plindo.db-wal", "/plindo.lock", "/Update/Vextal.mdb"}) {
        ASSERT_EQ(stat((dir + name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    ASSERT_EQ(stat((dir + "/Update").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string stored = test::ReadWholeFile(dir + "/plindo.db") + test::ReadWholeFile(dir + "/plindo.db-wal");
    EXPECT_EQ(stored.find(demo.loginId.substr(0, 32)), std::string::npos) << "a login id in the file";
    EXPECT_EQ(stored.find("Zq9secretPw"), std::string::npos) << "a password in the file";

    std::string out;
    EXPECT_EQ(test::RunServe("--quiet --port 0 --data " + dir, out), 1) << out;
    EXPECT_NE(out.find("is in use"), std::string::npos) << out;
    EXPECT_TRUE(SendCompanyList(demo).ok());
}

// The load test: 32 slow clients and 4 hostile 4 MiB bodies at once, and
// every ordinary request is still answered; then SIGTERM ends the service
// with the slow clients still connected.
TEST(HardeningLoad, SlowClientsAndHostileBodiesLeaveOrdinaryRequestsAnswered)
{
    test::UseDirectHttp(15);
    test::RealService service({7, 200, "2024-10-09 21:00:00"});
    VEXTAL_ASSERT_STARTED(&service);
    const CommandContext demo = service.Login();
    CHostileClients hostile(service.Process().Port(), 32, 4);
    // Until the slow clients hold their connections and the bodies flow.
    for (int i = 0; i < 200 && (hostile.SlowConnections() < 32 || hostile.HostilePosts() < 4); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 30; ++i) {
        CommandReply nav = SendLatestValue(demo, "000001");
        ASSERT_NE(nav.status, CommandStatus::SendFailed) << "request " << i;
        std::string css;
        ASSERT_GT(HttpGetBuffer(service.Base() + "stylemain.css", css, "", ""), 0) << "request " << i;
        EXPECT_NE(css.find("body{"), std::string::npos);
    }
    EXPECT_TRUE(service.Login().loginId.size() > 0);
    EXPECT_GE(hostile.HostilePosts(), 4);
    const int status = service.Process().Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "SIGTERM did not end the service: " << status;
    hostile.Stop();
}

// Clients that leave while their request is being handled, by a reset or
// by closing after sending, leave no socket behind in the service, and the
// next client is answered.
TEST(HardeningLoad, ClientsThatLeaveWhileAnsweredLeaveNoSocketBehind)
{
    test::RealService service({7, 50, "2024-10-09 21:00:00", {"--latency-ms", "300"}});
    VEXTAL_ASSERT_STARTED(&service);
    const int port = service.Process().Port();
    const std::string css = "GET /stylemain.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(StatusLine(Exchange(port, css)), "HTTP/1.1 200");
    const std::filesystem::path fds = StrFormat("/proc/%d/fd", static_cast<int>(service.Process().Pid()));
    auto openFiles = [&] { return std::distance(std::filesystem::directory_iterator(fds), {}); };
    const auto before = openFiles();
    std::vector<int> clients;
    for (int i = 0; i < 24; ++i) {
        clients.push_back(Connect(port));
        ASSERT_GE(clients.back(), 0);
        const std::string keep = "GET /stylemain.css HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(send(clients.back(), keep.data(), keep.size(), MSG_NOSIGNAL), static_cast<ssize_t>(keep.size()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // handled now, answers held back
    for (size_t i = 0; i < clients.size(); ++i) {
        if (i % 2 == 0) {
            linger reset{1, 0};
            setsockopt(clients[i], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(clients[i]);
    }
    // (The first exchange's socket may still be closing when counted.)
    for (int i = 0; i < 100 && openFiles() > before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(openFiles(), before);
    EXPECT_EQ(StatusLine(Exchange(port, css)), "HTTP/1.1 200");
}

}  // namespace
}  // namespace vextal
