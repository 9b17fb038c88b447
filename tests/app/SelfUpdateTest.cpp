// Self-update: only update files whose signature verifies are kept and run;
// the new program takes the installed name by one rename, and only the old
// instance of this installation (a copy of a harmless program) is ended.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/wait.h>

#include "app/AppTestSupport.h"
#include "app/SelfUpdate.h"
#include "app/VersionCheck.h"
#include "net/UpdateSignature.h"
#include "support/ChildWait.h"
#include "support/ServeFixture.h"

using namespace vextal;
using namespace vextal::test;

namespace {

using SelfUpdateTest = AppHomeTest;

// A fresh Ed25519 key pair in PEM form: {private, public}.
std::pair<std::string, std::string> NewKeyPair()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    auto pem = [](auto write) {
        BIO* bio = BIO_new(BIO_s_mem());
        write(bio);
        char* data = nullptr;
        long n = BIO_get_mem_data(bio, &data);
        std::string text(data, static_cast<size_t>(n));
        BIO_free(bio);
        return text;
    };
    auto pair = std::make_pair(
        pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); }),
        pem([&](BIO* b) { PEM_write_bio_PUBKEY(b, key); }));
    EVP_PKEY_free(key);
    return pair;
}

TEST_F(SelfUpdateTest, UpdateFilesWithoutAValidSignatureAreRefusedAndRemoved)
{
    const auto [privateKey, publicKey] = NewKeyPair();
    const auto other = NewKeyPair();
    const std::string data = "#!/bin/sh\nexec true\n";
    std::string sig, error;
    ASSERT_TRUE(SignDetached(data, privateKey, sig, error)) << error;
    EXPECT_TRUE(VerifyDetached(data, sig, publicKey));
    EXPECT_FALSE(VerifyDetached(data.substr(0, data.size() - 1), sig, publicKey));
    std::string flipped = data;
    flipped[3] ^= 1;
    EXPECT_FALSE(VerifyDetached(flipped, sig, publicKey));
    EXPECT_FALSE(VerifyDetached(data, sig, other.second));
    EXPECT_FALSE(VerifyDetached(data, sig.substr(0, 63), publicKey));
    EXPECT_FALSE(VerifyDetached(data, "", publicKey));
    EXPECT_FALSE(VerifyDetached(data, sig, "not a key"));
    EXPECT_FALSE(SignDetached(data, publicKey, sig, error));

    // The real service signing with our key: verified and written; checked
    // against another key: refused, and no file of that name is left.
    WriteWholeFile(home + "key.pem", privateKey);
    {
        RealService svc({7, 200, "", {"--update-key", home + "key.pem"}});
        ASSERT_TRUE(svc.Started());
        EXPECT_EQ(FetchSignedUpdateFile(svc.Base(), kUpdaterStarted, publicKey), UpdateFetch::Verified);
        EXPECT_FALSE(ReadWholeFile(home + "UpdateVextal").empty());
        EXPECT_EQ(FetchSignedUpdateFile(svc.Base(), kUpdaterStarted, other.second), UpdateFetch::Refused);
        EXPECT_FALSE(fs::exists(home + "UpdateVextal"));
        EXPECT_EQ(FetchSignedUpdateFile(svc.Base(), "UpdateNothing", publicKey), UpdateFetch::Missing);
    }

    // Unsigned (a service without a key): refused, an old file removed, the
    // user told, nothing started.
    {
        RealService svc({7, 200, "", {"--client-version", "3.26"}});
        ASSERT_TRUE(svc.Started());
        UseServer(svc.Base());
        RecordingPrompt prompt;
        CVextalDoc doc;
        doc.OnNewDocument(prompt);
        WriteWholeFile(home + "Vextal", "program");
        WriteWholeFile(home + "UpdatePlindo", "stale");
        CVersionCheck check(doc, prompt);
        check.SetProgramFile(home + "Vextal");
        int launches = 0;
        check.SetLauncher([&](const std::string&, const std::string&) { return ++launches, true; });
        ASSERT_TRUE(check.GetClientVersion());
        prompt.answer = true;
        EXPECT_FALSE(check.CheckNewVersion());
        EXPECT_EQ(launches, 0);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{StrFormat(kBadUpdateFileText, kUpdaterFetched)});
        EXPECT_FALSE(fs::exists(home + "UpdatePlindo"));
        EXPECT_FALSE(fs::exists(home + "UpdateVextal"));
    }
}

// The new program killed after the download, right before it takes the
// installed name: the old program is still installed, whole.
TEST_F(SelfUpdateTest, KilledBeforeTheRenameTheOldProgramStays)
{
    const std::string installed = home + "Vextal";
    WriteWholeFile(installed, "old program");
    WriteWholeFile(home + "UpdateVextal", "new program");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        CompleteSelfUpdate(home, kUpdaterStarted, 10, [&](const char* label) {
            if (std::string(label) != "replace") return;
            char c = 'x';
            (void)!write(fds[1], &c, 1);
            for (;;) pause();
        });
        _exit(3);  // never reached when the pause point is hit
    }
    close(fds[1]);
    char c = 0;
    const bool reached = read(fds[0], &c, 1) == 1;
    kill(pid, SIGKILL);
    int status = 0;
    WaitChildFor(pid, status, 10000);
    close(fds[0]);
    ASSERT_TRUE(reached) << "the child did not reach the rename";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadWholeFile(installed), "old program");

    // The next start of the new program completes the update.
    EXPECT_TRUE(CompleteSelfUpdate(home, kUpdaterStarted, 10).replaced);
    EXPECT_EQ(ReadWholeFile(installed), "new program");
}

// (Ending the old instance and the replacement through the start-up are in
// StartupTest.)
TEST_F(SelfUpdateTest, TheInstalledNameOrAMissingNewFileChangesNothing)
{
    const std::string installed = home + "Vextal";
    WriteWholeFile(installed, "old program");
    EXPECT_FALSE(CompleteSelfUpdate(home, "VEXTAL").ran);
    EXPECT_FALSE(CompleteSelfUpdate(home, "vextal").ran);
    SelfUpdateResult r = CompleteSelfUpdate(home, "Vextal.elsewhere", 10);
    EXPECT_TRUE(r.ran);
    EXPECT_FALSE(r.replaced);
    EXPECT_EQ(ReadWholeFile(installed), "old program");
}

TEST_F(SelfUpdateTest, AProgramOfAnotherDirectoryIsLeftAlone)
{
    fs::create_directory(home + "other");
    pid_t other = StartCopyOfSleep(home + "other/Vextal");
    ASSERT_GT(other, 0);
    WriteWholeFile(home + "Vextal.new", "newer");
    SelfUpdateResult r = CompleteSelfUpdate(home, "Vextal.new", 10);
    EXPECT_EQ(r.endedProcesses, 0);
    EXPECT_EQ(FindUserProcessesOf(home + "other/Vextal"), std::vector<pid_t>{other});
    kill(other, SIGKILL);
    int status = 0;
    WaitChildFor(other, status);
}

}  // namespace
