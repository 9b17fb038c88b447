// Where the program keeps its files, and that they are its owner's alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/IniFile.h"
#include "common/ProgramDir.h"
#include "db/DbTestUtil.h"

using namespace vextal;
namespace fs = std::filesystem;

namespace {

unsigned ModeOf(const fs::path& p)
{
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

// A fresh folder per test.
struct ProgramHome : test::TempDirTest {
    fs::path Root() const { return dir_; }
};

}  // namespace

TEST_F(ProgramHome, RuleChoosesGivenFolderProgramFolderOrUserData)
{
    // A build folder: no desktop entry installed beside it.
    const fs::path build = Root() / "build" / "src" / "ui";
    fs::create_directories(build);
    EXPECT_FALSE(IsInstalledProgramFolder(build.string()));
    // An installed prefix (or the same unpacked from the package).
    const fs::path prefix = Root() / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "applications");
    EXPECT_FALSE(IsInstalledProgramFolder((prefix / "bin").string()));
    std::ofstream(prefix / "share" / "applications" / kDesktopFileName) << "[Desktop Entry]\n";
    EXPECT_TRUE(IsInstalledProgramFolder((prefix / "bin").string()));
    EXPECT_TRUE(IsInstalledProgramFolder((prefix / "bin").string() + "/"));
    // A copy of the binary elsewhere whose folder it may not write.
    if (geteuid() != 0) {
        EXPECT_TRUE(IsInstalledProgramFolder("/usr/bin"));
    }

    HomeChoice c = ChooseHome("/data/mine/", "/opt/x/bin", true, "/xdg", "/home/u");
    EXPECT_EQ(c.dir, "/data/mine/");
    EXPECT_EQ(c.kind, HomeKind::Given);
    c = ChooseHome("rel", "/opt/x/bin", true, "/xdg", "/home/u");
    EXPECT_EQ(c.dir, (fs::current_path() / "rel").string() + "/");
    c = ChooseHome("", "/work/build/src/ui", false, "/xdg", "/home/u");
    EXPECT_EQ(c.dir, "/work/build/src/ui/");
    EXPECT_EQ(c.kind, HomeKind::ProgramFolder);
    c = ChooseHome("", "/usr/bin", true, "/xdg/data", "/home/u");
    EXPECT_EQ(c.dir, "/xdg/data/Vextal/");
    EXPECT_EQ(c.kind, HomeKind::UserData);
    // Unset, empty or relative XDG_DATA_HOME: the default under the home folder.
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/data"})
        EXPECT_EQ(ChooseHome("", "/usr/bin", true, xdg, "/home/u").dir, "/home/u/.local/share/Vextal/");
}

TEST_F(ProgramHome, HomeAndItsFilesAreTheOwnersAlone)
{
    const mode_t before = ::umask(022);
    // A new user-data home under parents that do not exist yet.
    const fs::path home = Root() / "share" / "Vextal";
    std::string error;
    ASSERT_TRUE(PrepareProgramDirectory(home.string() + "/", true, error)) << error;
    EXPECT_EQ(ModeOf(home), 0700u);
    // The files the program makes there afterwards.
    ASSERT_TRUE(CreateDatabaseFile((home / "Vextal.mdb").string(), CAdoDatabase::kDefaultPassword, error)) << error;
    ASSERT_TRUE(WriteIniString("Login", "ServerURL", "http://127.0.0.1:1/", (home / "Vextal.ini").string()));
    fs::create_directory(home / "Html");
    ASSERT_TRUE(WriteFileAtomically((home / "Html" / "vextal.htm").string(), "<html></html>"));
    for (const char* f : {"Vextal.mdb", "Vextal.ini", "Html/vextal.htm"}) EXPECT_EQ(ModeOf(home / f), 0600u) << f;
    EXPECT_EQ(ModeOf(home / "Html"), 0700u);

    // An older home left open to others is closed at the next start.
    ::chmod(home.c_str(), 0755);
    ::chmod((home / "Vextal.ini").c_str(), 0644);
    ::chmod((home / "Vextal.mdb").c_str(), 0664);
    ::chmod((home / "Html").c_str(), 0755);
    ASSERT_TRUE(PrepareProgramDirectory(home.string(), true, error)) << error;
    EXPECT_EQ(ModeOf(home), 0700u);
    EXPECT_EQ(ModeOf(home / "Vextal.ini"), 0600u);
    EXPECT_EQ(ModeOf(home / "Vextal.mdb"), 0600u);
    EXPECT_EQ(ModeOf(home / "Html"), 0700u);

    // A folder the user named keeps its own mode (it may be shared, as /tmp);
    // only the program's files in it are closed.
    const fs::path named = Root() / "named";
    fs::create_directory(named);
    ::chmod(named.c_str(), 0755);
    std::ofstream(named / "Vextal.ini") << "[Login]\n";
    ::chmod((named / "Vextal.ini").c_str(), 0644);
    std::ofstream(named / "notes.txt") << "mine\n";
    ::chmod((named / "notes.txt").c_str(), 0644);
    ASSERT_TRUE(PrepareProgramDirectory(named.string(), false, error)) << error;
    EXPECT_EQ(ModeOf(named), 0755u);
    EXPECT_EQ(ModeOf(named / "Vextal.ini"), 0600u);
    EXPECT_EQ(ModeOf(named / "notes.txt"), 0644u);

    // A home that cannot be made is reported.
    std::ofstream(Root() / "file") << "x";
    EXPECT_FALSE(PrepareProgramDirectory((Root() / "file" / "Vextal").string(), true, error));
    EXPECT_NE(error.find("file/Vextal"), std::string::npos) << error;
    ::umask(before);
}
