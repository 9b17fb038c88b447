#pragma once
// The bookkeeping text that the program uploads and plindo-serve keeps and
// gives back: per account "_A_" its T_Account_Info row "_A_", "_F_" its
// T_Fund_Trade rows "_F_", "_T_" its T_Trade_Info rows "_T_", accounts
// joined by "|". Fields of a row and rows of a section are joined by "|", in
// the column order fixed in db/Schema; a text field has every "|" turned
// into ";"; NULL is the empty field.
//
// Names and notes may hold anything else, the markers included. The text
// still reads one way only: the first and the last column of every table
// are numbers or dates, which hold neither "_" nor "|", so a marker can
// only stand where a row begins or ends, and a text field always ends at
// the "|" behind it.
//
// The trade remark (the booking options kept in T_Trade_Info.Remark) is
// coded here too: it travels in the text, with its "|" as ";".
#include <string>
#include <vector>

namespace vextal {

struct BookTextAccount {
    std::vector<std::string> account;                // AccountInfoColumns()
    std::vector<std::vector<std::string>> holdings;  // FundTradeColumns() each
    std::vector<std::vector<std::string>> trades;    // TradeInfoColumns() each
};

// The text of the accounts. False, with a text naming the account and the
// field, when a text field holds a character GBK (the service's code page)
// cannot carry, or when two accounts would arrive under one name (a "|" in
// one name becomes the ";" of the other).
bool WriteBookText(const std::vector<BookTextAccount>& accounts, std::string& text, std::string& error);
// The same without the checks: the service writes back what it read.
std::string WriteBookTextUnchecked(const std::vector<BookTextAccount>& accounts);

// Reads the whole text, every field checked against its column (integers,
// numbers, dates, NULL only where the column allows it, the rows of an
// account carrying its AccountID). False, with a text naming the account,
// the table, the row and the column, when it is not a bookkeeping text.
bool ReadBookText(const std::string& text, std::vector<BookTextAccount>& accounts, std::string& error);

// Column positions used by both ends.
enum BookAccountColumn { kBookAccountId = 0, kBookAccountName = 2, kBookAccountCreated = 7 };
enum BookTradeColumn { kBookTradeId = 0, kBookTradeAccount = 1, kBookTradeRemark = 12 };

// The booking options in Remark: a subscription "%0.2f|%d" (interest or
// interbank rate, inner-deduction flag), any other trade "%d" with the flag
// when it is 1, else empty. The reader takes ";" for "|" as well.
std::string WriteTradeRemark(int tradeType, double secondRate, int innerDeduction);
void ReadTradeRemark(const std::string& remark, int tradeType, double& secondRate, int& innerDeduction);

}  // namespace vextal
