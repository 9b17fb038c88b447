#pragma once
// The program writes its statements in the Jet (Access) dialect; this turns
// them into statements SQLite runs with the same meaning. Text inside quotes,
// double quotes and [brackets] is never rewritten.
#include <string>
#include <vector>

namespace vextal {

// A literal lifted out of a statement so that statements of one shape share
// one prepared form.
struct SqlParam {
    enum Kind { Integer, Real, Text };
    Kind kind = Text;
    long long i = 0;
    double d = 0;
    std::string s;
};

// - #YYYY-MM-DD[ HH:MM[:SS]]# date literals become 'YYYY-MM-DD HH:MM:SS'
//   (the form dates are stored in, so they compare as text);
// - DELETE * FROM becomes DELETE FROM;
// - SELECT [DISTINCT] TOP n ... becomes SELECT ... LIMIT n (also in
//   sub-queries, where LIMIT goes before the closing bracket);
// - ALTER TABLE t ADD [CONSTRAINT c] PRIMARY KEY(cols) becomes a unique
//   index named PK_t (or c) on those columns.
std::string TranslateJetSql(const std::string& jet);

// The same, and for SELECT, INSERT, UPDATE and DELETE statements every text
// and number literal is replaced by "?" with its value appended to params
// (ordinals after ORDER BY and GROUP BY stay, as they name columns).
// The result binds to exactly the statement TranslateJetSql would give.
std::string TranslateJetSql(const std::string& jet, std::vector<SqlParam>& params);

}  // namespace vextal
