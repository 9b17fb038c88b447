#include <gtest/gtest.h>

#include "db/JetSql.h"

using vextal::TranslateJetSql;

TEST(JetSql, DateLiteralsBecomeStoredText)
{
    EXPECT_EQ(TranslateJetSql("SELECT * FROM T WHERE ValueDate>=#2007-03-05 14:07:00#"),
              "SELECT * FROM T WHERE ValueDate>='2007-03-05 14:07:00'");
    // Date-only and short forms are widened to the stored form so equality works.
    EXPECT_EQ(TranslateJetSql("WHERE d=#2007-3-5#"), "WHERE d='2007-03-05 00:00:00'");
    EXPECT_EQ(TranslateJetSql("WHERE d BETWEEN #2007-03-05 09:30# AND #2007-03-06#"),
              "WHERE d BETWEEN '2007-03-05 09:30:00' AND '2007-03-06 00:00:00'");
    // Not a date: left for the engine to refuse rather than guessed at.
    EXPECT_EQ(TranslateJetSql("WHERE d=#soon#"), "WHERE d=#soon#");
}

TEST(JetSql, QuotedTextIsNeverRewritten)
{
    const std::string quoted =
        "INSERT INTO T(a,b) VALUES('DELETE * FROM x #2007-03-05# SELECT TOP 5 it''s', \"#2001-01-01#\")";
    EXPECT_EQ(TranslateJetSql(quoted), quoted);
    EXPECT_EQ(TranslateJetSql("SELECT [TOP 3 #x#] FROM T"), "SELECT [TOP 3 #x#] FROM T");
    // An unterminated quote swallows the rest instead of exposing it.
    EXPECT_EQ(TranslateJetSql("SELECT 'abc #2007-03-05# DELETE *"), "SELECT 'abc #2007-03-05# DELETE *");
}

TEST(JetSql, DeleteStarAndTop)
{
    EXPECT_EQ(TranslateJetSql("DELETE * FROM T_Fund_Value WHERE FundID='000001'"),
              "DELETE FROM T_Fund_Value WHERE FundID='000001'");
    EXPECT_EQ(TranslateJetSql("delete  *  from T"), "delete  from T");
    EXPECT_EQ(TranslateJetSql("SELECT TOP 1 ValueDate FROM T_Fund_Value WHERE FundID='1' ORDER BY ValueDate DESC"),
              "SELECT ValueDate FROM T_Fund_Value WHERE FundID='1' ORDER BY ValueDate DESC LIMIT 1");
    EXPECT_EQ(TranslateJetSql("SELECT DISTINCT TOP 10 FundID FROM T;"), "SELECT DISTINCT FundID FROM T LIMIT 10;");
    EXPECT_EQ(TranslateJetSql("SELECT * FROM A WHERE x IN (SELECT TOP 2 x FROM B ORDER BY x DESC) ORDER BY y"),
              "SELECT * FROM A WHERE x IN (SELECT x FROM B ORDER BY x DESC LIMIT 2) ORDER BY y");
    // TOP as a column name is not the keyword form.
    EXPECT_EQ(TranslateJetSql("SELECT Top FROM T"), "SELECT Top FROM T");
}

TEST(JetSql, AddPrimaryKeyBecomesUniqueIndex)
{
    EXPECT_EQ(TranslateJetSql("ALTER TABLE T_Fund_Value ADD PRIMARY KEY([ValueDate],[FundID])"),
              "CREATE UNIQUE INDEX [PK_T_Fund_Value] ON T_Fund_Value([ValueDate],[FundID])");
    EXPECT_EQ(TranslateJetSql("alter table [T x] add constraint PK1 primary key (a)"),
              "CREATE UNIQUE INDEX PK1 ON [T x](a)");
    // Other ALTER forms pass unchanged.
    EXPECT_EQ(TranslateJetSql("ALTER TABLE T ADD COLUMN SaleFee float DEFAULT 0"),
              "ALTER TABLE T ADD COLUMN SaleFee float DEFAULT 0");
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

    // Column ordinals keep naming columns; a value after the clause is lifted again.
    p.clear();
    EXPECT_EQ(TranslateJetSql("SELECT a FROM T GROUP BY 1 HAVING COUNT(*)>2 ORDER BY 1, 2", p),
              "SELECT a FROM T GROUP BY 1 HAVING COUNT(*)>? ORDER BY 1, 2");
    EXPECT_EQ(p.size(), 1u);
    p.clear();
    EXPECT_EQ(TranslateJetSql("SELECT TOP 3 a FROM T WHERE b IN (SELECT c FROM U ORDER BY 1) AND e=7", p),
              "SELECT a FROM T WHERE b IN (SELECT c FROM U ORDER BY 1) AND e=? LIMIT 3");
    EXPECT_EQ(p.size(), 1u);

    // Definitions keep their literals (types, defaults).
    p.clear();
    EXPECT_EQ(TranslateJetSql("CREATE TABLE T(a TEXT(6) DEFAULT 'x', b float DEFAULT 0)", p),
              "CREATE TABLE T(a TEXT(6) DEFAULT 'x', b float DEFAULT 0)");
    EXPECT_TRUE(p.empty());
    // An unterminated text is not turned into a value the engine would accept.
    EXPECT_EQ(TranslateJetSql("SELECT * FROM T WHERE a='ab''", p), "SELECT * FROM T WHERE a='ab''");
    EXPECT_TRUE(p.empty());
}
