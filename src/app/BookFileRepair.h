#pragma once
// Vextal.mdb when it cannot be made or cannot be used: texts that name the
// cause and the folder, and the repair of a damaged file (the last backup or
// a new file, the damaged one always kept under another name).
#include <functional>
#include <string>

#include "common/UserPrompt.h"

namespace vextal {

class CAdoDatabase;

// The text for a database file that could not be made at `path`: the
// folder, the reason, and free space when the disk is full.
std::string CannotCreateBookText(const std::string& path, const std::string& reason);

// Opens the book at `path` through `db` (its login and file already set).
// False with `damage` set when the file holds no book (see below), false
// with `damage` empty when it cannot be opened for another reason (the
// database's error then says which).
bool OpenBookFile(CAdoDatabase& db, const std::string& path, std::string& damage);

// The text for `what` (a list received from the service) that could not be
// stored in the database file at `path`.
std::string StoreFailedText(const char* what, const std::string& path, const std::string& reason);

// A file that exists and can be read but holds no book: zero length, not a
// database, malformed, or without the book's tables. `why` says which.
// A file that cannot be read at all (permissions) is not damaged.
bool IsDamagedBookFile(const std::string& path, std::string& why);

// Asks the user what to do with the damaged file at `path` and does it: the
// last backup (<path>.bak, when usable) or a new file made by `makeNew`
// (which returns an error text, empty on success). The damaged file, with
// its write-ahead log, is renamed aside, never deleted; the backup is
// copied, never moved. True when a file to open stands at `path` afterwards.
bool RepairDamagedBook(IUserPrompt& prompt, const std::string& path, const std::string& why,
                       const std::function<std::string()>& makeNew);

}  // namespace vextal
