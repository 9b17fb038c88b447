#pragma once
// Number and date pieces of the bookkeeping statements.
#include <string>

#include "common/Format.h"
#include "common/OleDate.h"
#include "db/AdoDatabase.h"

namespace vextal::booksql {

inline std::string Money(double v) { return StrFormat("%0.2f", v); }
inline std::string Price(double v) { return StrFormat("%0.4f", v); }
inline std::string Cost(double v) { return StrFormat("%0.8f", v); }
// A date literal in the database object's style.
inline std::string Date(const CAdoDatabase& db, const OleDate& d) { return db.LiteralOf(FieldValue("", d)); }

}  // namespace vextal::booksql
