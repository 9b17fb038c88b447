#pragma once
// A small stand-in of the client service inside the test (login, logout,
// the version query and the files it serves) for answers the real service
// never gives, and a fresh program directory per test.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/ProgramState.h"
#include "app/SelfUpdate.h"
#include "app/StartupSequence.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "common/UserPrompt.h"
#include "db/Schema.h"
#include "net/Cipher.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/LoopbackServer.h"
#include "support/DirectHttp.h"
#include "support/Files.h"
#include "support/RecordingPrompt.h"

extern char** environ;

namespace vextal::test {

namespace fs = std::filesystem;

class FakeService {
public:
    struct Member {
        int id;
        std::string password, email, nickname;
        int level;
    };

    std::mutex mutex;
    std::map<std::string, Member> members;
    std::string version = "3.25";
    int versionRet = 0;
    std::string mdb;  // Update/Vextal.mdb; empty: 404
    std::map<std::string, std::string> files;  // path → body
    std::vector<std::string> commands;         // "cmdtype/cmdid"
    std::string loginMsgOverride;              // replaces the 9 fields when set
    LoopbackServer srv;

    FakeService()
    {
        members["demo"] = {7, "demo123", "demo@plindo.example", "演示", 1};
        files["/stylemain.css"] = "body{}";
        files["/vextalnew.htm"] = "<html>new</html>";
        files["/vextal.htm"] = "<html>login</html>";
        files["/stockindex.htm"] = "<html>index</html>";
        files["/fundkey.txt"] = "000001\t华夏成长\r\n000011\t华夏大盘\r\nbad\tline\tthree\r\n";
        files["/image/logoweb.gif"] = "GIF89a";

        auto command = [this](const httplib::Request& req, httplib::Response& res) {
            res.set_content(Command(req), "text/xml");
        };
        srv.Post("/plindo/client/ClientService.asmx/SendCommand", command);
        auto versionQuery = [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex);
            res.set_content(Answer(versionRet, version), "text/xml");
        };
        srv.Post("/plindo/client/ClientService.asmx/GetClientVersion", versionQuery);
        srv.Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex);
            if (req.path == "/Update/Vextal.mdb" && !mdb.empty()) return res.set_content(mdb, "application/octet-stream");
            auto it = files.find(req.path);
            if (it == files.end()) {
                res.status = 404;
                return;
            }
            res.set_content(it->second, "application/octet-stream");
        });
        srv.Start();
    }

    std::string Base() { return srv.Base(); }
    int Requests(const std::string& path)
    {
        int n = 0;
        for (const auto& r : srv.Seen()) n += r.target.rfind(path, 0) == 0;
        return n;
    }

    static std::string Answer(int ret, const std::string& msgUtf8, const std::string& extra = std::string())
    {
        return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<CommandResult xmlns=\"" + std::string(kCommandNamespace) +
               "\"><Ret>" + std::to_string(ret) + "</Ret><Msg>" + Utf8ToGbk(msgUtf8) + "</Msg>" + extra +
               "</CommandResult>";
    }

private:
    // The fields of `data` in UTF-8 (the form decoding already undid the escapes).
    static std::vector<std::string> Fields(const httplib::Request& req)
    {
        std::vector<std::string> out;
        SplitFields(GbkToUtf8(req.get_param_value("data")), "|", out);
        return out;
    }
    static std::string Password(const std::string& wire) { return GbkToUtf8(DecryptText(wire)); }

    std::string Command(const httplib::Request& req)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string kind = req.get_param_value("cmdtype") + "/" + req.get_param_value("cmdid");
        commands.push_back(kind);
        std::vector<std::string> f = Fields(req);
        if (kind == "3/1" && f.size() >= 3) {
            auto it = members.find(f[0]);
            if (it == members.end() || it->second.password != Password(f[1])) return Answer(-1, "用户名或密码错误");
            const Member& m = it->second;
            std::string msg = loginMsgOverride.empty()
                                  ? StrFormat("%d|%s|%s|2020-01-01|2030-12-31|20240101|20240102|2024-06-28|a=1;b;c=x=y;d=4",
                                              m.id, m.nickname.c_str(), m.email.c_str())
                                  : loginMsgOverride;
            return Answer(0, msg, StrFormat("<ServerID>3f9ac21e0123456789abcdef0123c21e-%d</ServerID>", m.level));
        }
        if (kind == "3/2") return Answer(0, "ok");
        return Answer(-9, "不支持的命令");
    }
};

// A fresh program directory, a fixed clock (a Friday morning) and direct
// loopback connections.
class AppHomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "vextal_app_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        home = tmpl + "/";
        SetProgramDirectory(home);
        Clock::Fix(OleDate::FromParts(2024, 6, 28, 10, 0, 0));
        UseDirectHttp(10);
        SetProgramOffline(false);
        SetUpdatePending(false);
    }
    void TearDown() override
    {
        Clock::Release();
        SetHttpConfig({});
        SetProxySettings({});
        if (smallHome) ::umount2(home.c_str(), MNT_DETACH);
        fs::remove_all(home);
    }
    // The home on a tmpfs of `size` ("128k"): mounting needs root.
    bool MountSmallHome(const char* size)
    {
        smallHome = ::mount("tmpfs", home.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
        return smallHome;
    }
    // Takes the rest of the home's file system.
    void FillHome()
    {
        std::ofstream filler(home + "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {}
        std::ofstream last(home + "filler2", std::ios::binary);
        while (last.put('f') && last.flush()) {}
    }
    // Points the program at `base` as a user would, in Vextal.ini.
    void UseServer(const std::string& base) { WriteWholeFile(home + "Vextal.ini", "[Login]\r\nServerURL=" + base + "\r\n"); }
    static std::string MakeDatabaseBytes(const std::string& dir)
    {
        std::string error, path = dir + "template.mdb";
        EXPECT_TRUE(CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error)) << error;
        std::string bytes = ReadWholeFile(path);
        fs::remove(path);
        return bytes;
    }

    std::string home;
    bool smallHome = false;
};

// One run of the program as the application object wires it: the login
// dialog confirms `form` once (a refused login cancels the dialog); with
// `withMarket` the market data is attached when the document is made;
// `afterLogin` runs between the login and what follows it.
struct ProgramRun {
    RecordingPrompt prompt;
    std::unique_ptr<CStartupSequence> seq;
    std::unique_ptr<CMarketData> market;
    CLoginDialogLogic::OpenState opened;
    StartupResult result = StartupResult::LoginCancelled;

    CVextalDoc& Doc() { return *seq->GetDocument(); }
};

inline std::unique_ptr<ProgramRun> StartProgram(const std::string& programFile, const CLoginForm& form,
                                                bool withMarket = true,
                                                std::function<void(CVextalDoc&)> afterLogin = {})
{
    auto run = std::make_unique<ProgramRun>();
    ProgramRun* r = run.get();
    CStartupCallbacks cb;
    if (withMarket)
        cb.documentCreated = [r](CVextalDoc& doc) {
            doc.SetPrompt(&r->prompt);
            r->market = std::make_unique<CMarketData>(doc);
            r->market->Attach();
        };
    cb.runLoginDialog = [r, form, afterLogin](CVextalDoc& doc) {
        CLoginDialogLogic dialog(doc, r->prompt);
        r->opened = dialog.OnOpen();
        const bool ok = dialog.OnLogin(form);
        if (afterLogin) afterLogin(doc);
        return ok;
    };
    r->seq = std::make_unique<CStartupSequence>(r->prompt, cb);
    CStartupOptions options;
    options.programFile = programFile;
    options.renameRetryMs = 10;
    r->result = r->seq->Start(options);
    return run;
}

// A copy of a harmless program running as `path`, once the process scan sees it.
inline pid_t StartCopyOfSleep(const std::string& path)
{
    fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("60"), nullptr};
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    for (int i = 0; i < 200 && FindUserProcessesOf(path).empty(); ++i) usleep(10000);
    return pid;
}

// A document opened on the program directory and its login dialog, for
// the login cases.
struct LoginDesk {
    void OpenDocument()
    {
        doc = std::make_unique<CVextalDoc>();
        doc->OnNewDocument(prompt);
        ASSERT_TRUE(doc->IsDatabaseOpen());
        dialog = std::make_unique<CLoginDialogLogic>(*doc, prompt);
    }
    bool Login(const std::string& name, const std::string& password, bool offline)
    {
        doc->ResetUser();
        return dialog->OnLogin({name, password, false, offline});
    }
    std::string LastMessage() const { return prompt.messages.empty() ? std::string() : prompt.messages.back(); }

    RecordingPrompt prompt;
    std::unique_ptr<CVextalDoc> doc;
    std::unique_ptr<CLoginDialogLogic> dialog;
};

}  // namespace vextal::test
