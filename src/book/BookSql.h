#pragma once
// Number and date pieces of the bookkeeping statements.
#include <cmath>
#include <string>

#include "common/Format.h"
#include "common/OleDate.h"
#include "db/AdoDatabase.h"

namespace vextal::booksql {

inline std::string Money(double v) { return StrFormat("%0.2f", v); }
inline std::string Price(double v) { return StrFormat("%0.4f", v); }
inline std::string Cost(double v) { return StrFormat("%0.8f", v); }
// Whether two costs read the same at eight places, as Cost() writes them.
// The text is formed only for values near a rounding boundary, of opposite
// signs or large: elsewhere the scaled value rounds as the text does.
inline bool SameCost(double a, double b)
{
    if (a == b && std::signbit(a) == std::signbit(b)) return true;
    if (a - b > 1e-6 || b - a > 1e-6) return false;
    if (std::signbit(a) == std::signbit(b) && std::fabs(a) < 1e4 && std::fabs(b) < 1e4) {
        const double x = a * 1e8, y = b * 1e8;
        auto clear = [](double v) { return std::fabs(std::fabs(v - std::trunc(v)) - 0.5) > 1e-3; };
        if (clear(x) && clear(y)) return std::round(x) == std::round(y);
    }
    return Cost(a) == Cost(b);
}

// A date literal in the database object's style.
inline std::string Date(const CAdoDatabase& db, const OleDate& d) { return db.LiteralOf(FieldValue("", d)); }

}  // namespace vextal::booksql
