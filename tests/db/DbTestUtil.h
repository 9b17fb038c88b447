#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sqlite3.h>

#include "common/Format.h"
#include "db/AdoDatabase.h"
#include "db/Schema.h"

namespace vextal::test {

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vextal-db-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A complete database file, opened with the program's password.
    void MakeDatabase(CAdoDatabase& db, const std::string& name = "Vextal.mdb")
    {
        std::string error;
        ASSERT_TRUE(CreateDatabaseFile(Path(name), CAdoDatabase::kDefaultPassword, error)) << error;
        db.SetDatabase(Path(name), 1);
        ASSERT_TRUE(db.Open()) << db.GetLastError();
    }

    std::string dir_;
};

}  // namespace vextal::test
