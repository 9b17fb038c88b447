#include <gtest/gtest.h>

#include "db/JetSql.h"

using vextal::TranslateJetSql;

TEST(JetSql, StatementsBecomeTheEnginesForm)
{
    const struct {
        const char *jet, *engine;
    } cases[] = {
        // Date literals become the stored text; date-only and short forms are
        // widened to the stored form so equality works.
        {"SELECT * FROM T WHERE ValueDate>=#2007-03-05 14:07:00#", "SELECT * FROM T WHERE ValueDate>='2007-03-05 14:07:00'"},
        {"WHERE d=#2007-3-5#", "WHERE d='2007-03-05 00:00:00'"},
        {"WHERE d BETWEEN #2007-03-05 09:30# AND #2007-03-06#",
         "WHERE d BETWEEN '2007-03-05 09:30:00' AND '2007-03-06 00:00:00'"},
        // Not a date: left for the engine to refuse rather than guessed at.
        {"WHERE d=#soon#", "WHERE d=#soon#"},
        // Quoted text is never rewritten; an unterminated quote swallows the
        // rest instead of exposing it.
        {"INSERT INTO T(a,b) VALUES('DELETE * FROM x #2007-03-05# SELECT TOP 5 it''s', \"#2001-01-01#\")",
         "INSERT INTO T(a,b) VALUES('DELETE * FROM x #2007-03-05# SELECT TOP 5 it''s', \"#2001-01-01#\")"},
        {"SELECT [TOP 3 #x#] FROM T", "SELECT [TOP 3 #x#] FROM T"},
        {"SELECT 'abc #2007-03-05# DELETE *", "SELECT 'abc #2007-03-05# DELETE *"},
        // DELETE * and TOP.
        {"DELETE * FROM T_Fund_Value WHERE FundID='000001'", "DELETE FROM T_Fund_Value WHERE FundID='000001'"},
        {"delete  *  from T", "delete  from T"},
        {"SELECT TOP 1 ValueDate FROM T_Fund_Value WHERE FundID='1' ORDER BY ValueDate DESC",
         "SELECT ValueDate FROM T_Fund_Value WHERE FundID='1' ORDER BY ValueDate DESC LIMIT 1"},
        {"SELECT DISTINCT TOP 10 FundID FROM T;", "SELECT DISTINCT FundID FROM T LIMIT 10;"},
        {"SELECT * FROM A WHERE x IN (SELECT TOP 2 x FROM B ORDER BY x DESC) ORDER BY y",
         "SELECT * FROM A WHERE x IN (SELECT x FROM B ORDER BY x DESC LIMIT 2) ORDER BY y"},
        {"SELECT Top FROM T", "SELECT Top FROM T"},  // a column name, not the keyword form
        // ADD PRIMARY KEY becomes a unique index; other ALTER forms pass unchanged.
        {"ALTER TABLE T_Fund_Value ADD PRIMARY KEY([ValueDate],[FundID])",
         "CREATE UNIQUE INDEX [PK_T_Fund_Value] ON T_Fund_Value([ValueDate],[FundID])"},
        {"alter table [T x] add constraint PK1 primary key (a)", "CREATE UNIQUE INDEX PK1 ON [T x](a)"},
        {"ALTER TABLE T ADD COLUMN SaleFee float DEFAULT 0", "ALTER TABLE T ADD COLUMN SaleFee float DEFAULT 0"},
    };
    for (const auto& c : cases) EXPECT_EQ(TranslateJetSql(c.jet), c.engine) << c.jet;
}

TEST(JetSql, LiteralsAreLiftedOnlyWhereAValueStands)
{
    std::vector<vextal::SqlParam> p;
    EXPECT_EQ(TranslateJetSql("UPDATE T SET a=-3,b=1.5000,c='it''s' WHERE d=#2007-03-05 14:07:00# ORDER BY 2", p),
              "UPDATE T SET a=-?,b=?,c=? WHERE d=? ORDER BY 2");
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].kind, vextal::SqlParam::Integer);
    EXPECT_EQ(p[0].i, 3);
    EXPECT_EQ(p[1].kind, vextal::SqlParam::Real);
    EXPECT_DOUBLE_EQ(p[1].d, 1.5);
    EXPECT_EQ(p[2].s, "it's");
    EXPECT_EQ(p[3].s, "2007-03-05 14:07:00");

    // Column ordinals keep naming columns; a value after the clause is lifted
    // again. Definitions keep their literals (types, defaults); an
    // unterminated text is not turned into a value the engine would accept.
    const struct {
        const char *jet, *engine;
        size_t params;
    } cases[] = {
        {"SELECT a FROM T GROUP BY 1 HAVING COUNT(*)>2 ORDER BY 1, 2",
         "SELECT a FROM T GROUP BY 1 HAVING COUNT(*)>? ORDER BY 1, 2", 1},
        {"SELECT TOP 3 a FROM T WHERE b IN (SELECT c FROM U ORDER BY 1) AND e=7",
         "SELECT a FROM T WHERE b IN (SELECT c FROM U ORDER BY 1) AND e=? LIMIT 3", 1},
        {"CREATE TABLE T(a TEXT(6) DEFAULT 'x', b float DEFAULT 0)",
         "CREATE TABLE T(a TEXT(6) DEFAULT 'x', b float DEFAULT 0)", 0},
        {"SELECT * FROM T WHERE a='ab''", "SELECT * FROM T WHERE a='ab''", 0},
    };
    for (const auto& c : cases) {
        p.clear();
        EXPECT_EQ(TranslateJetSql(c.jet, p), c.engine) << c.jet;
        EXPECT_EQ(p.size(), c.params) << c.jet;
    }
}
