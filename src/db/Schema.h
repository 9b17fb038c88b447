#pragma once
// Tables of Vextal.mdb, the upgrade chain that brings an older file to the
// current version, and the T_System_Info accessors.
#include <string>
#include <vector>

#include "db/AdoDatabase.h"

namespace vextal {

inline constexpr const char* kCurrentDBVersion = "3.25";
inline constexpr const char* kDatabaseFileName = "Vextal.mdb";

// Physical column order of the three bookkeeping tables in a file made by
// this program (base columns, then those the upgrade chain adds, in chain
// order). It is also the field order of the bookkeeping text exchanged with
// the service, so it must never change.
const std::vector<std::string>& AccountInfoColumns();  // 8 columns
const std::vector<std::string>& FundTradeColumns();    // 14 columns
const std::vector<std::string>& TradeInfoColumns();    // 15 columns

bool GetSystemInfo(CAdoDatabase db, const std::string& item, std::string& value);
bool SetSystemInfo(CAdoDatabase db, const std::string& item, const std::string& value);

// Runs the missing upgrade steps; each step is one transaction. Before the
// first step changes the file a copy is kept beside it (<file>.bak). A
// statement that finds its column, table or index already there counts as
// done; any other failure rolls its step back, leaves DBVersion at the last
// step that completed, keeps the copy and returns false with `error` set.
bool UpgradeDatabase(CAdoDatabase db, std::string* error = nullptr);
// The chain up to and including the step `lastStep`, without the copy: makes
// files of an older version (tools, tests).
bool UpgradeDatabaseTo(CAdoDatabase db, const std::string& lastStep, std::string* error = nullptr);

// The version steps that UpgradeDatabase would run for a stored version.
std::vector<std::string> PendingUpgradeSteps(const std::string& storedVersion);

// Creates the base tables of a new file (used for a file made from nothing).
bool CreateBaseTables(CAdoDatabase& db);

// Makes a complete database at `path` (all tables, DBVersion current),
// protected with `password`. The file appears whole or not at all; an
// existing file is never overwritten. On failure `error` says why.
bool CreateDatabaseFile(const std::string& path, const std::string& password, std::string& error);

}  // namespace vextal
