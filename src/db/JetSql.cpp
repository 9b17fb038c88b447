#include "db/JetSql.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <vector>

#include "common/Format.h"
#include "common/OleDate.h"

namespace vextal {
namespace {

enum class Tok { Word, Number, Text, Ident, Date, Space, Punct };

// Tokens point into the statement; the few texts a rewrite makes live in
// `Owned` until the statement is joined again. No token allocates.
struct Token {
    Tok kind;
    std::string_view text;
};

thread_local std::deque<std::string> g_owned;

std::string_view Owned(std::string text)
{
    g_owned.push_back(std::move(text));
    return g_owned.back();
}

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

std::vector<Token> Tokenize(std::string_view s)
{
    std::vector<Token> out;
    out.reserve(s.size() / 3 + 4);
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t start = i;
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
            out.push_back({Tok::Space, s.substr(start, i - start)});
        } else if (c == '\'') {
            bool closed = false;
            ++i;
            while (i < n && !closed) {  // '' is a quote inside the text
                if (s[i] == '\'') {
                    if (i + 1 < n && s[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    closed = true;
                }
                ++i;
            }
            // An unterminated text stays as written, for the engine to refuse.
            out.push_back({closed ? Tok::Text : Tok::Ident, s.substr(start, i - start)});
        } else if (c == '"' || c == '[' || c == '`') {
            char close = c == '[' ? ']' : static_cast<char>(c);
            ++i;
            while (i < n && s[i] != close) ++i;
            if (i < n) ++i;
            out.push_back({Tok::Ident, s.substr(start, i - start)});
        } else if (c == '#') {
            size_t end = s.find('#', i + 1);
            if (end == std::string_view::npos) {
                out.push_back({Tok::Punct, "#"});
                ++i;
            } else {
                out.push_back({Tok::Date, s.substr(i, end + 1 - i)});
                i = end + 1;
            }
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            while (i < n && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
            out.push_back({Tok::Number, s.substr(start, i - start)});
        } else if (IsWordStart(c)) {
            while (i < n && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
            out.push_back({Tok::Word, s.substr(start, i - start)});
        } else {
            out.push_back({Tok::Punct, s.substr(i, 1)});
            ++i;
        }
    }
    return out;
}

bool IsWord(const Token& t, std::string_view word) { return t.kind == Tok::Word && EqualsNoCase(t.text, word); }

// Index of the next token that is not white space, or tokens.size().
size_t NextSolid(const std::vector<Token>& t, size_t i)
{
    while (i < t.size() && t[i].kind == Tok::Space) ++i;
    return i;
}

std::string_view DateLiteral(std::string_view hashed)
{
    OleDate d;
    if (!OleDate::Parse(std::string(hashed.substr(1, hashed.size() - 2)), d)) return hashed;  // let the engine report it
    return Owned("'" + d.Format(0) + "'");
}

void TranslateTop(std::vector<Token>& t)
{
    // Most statements have no TOP: leave them without rebuilding anything.
    bool any = false;
    for (const Token& tok : t)
        if (IsWord(tok, "TOP")) {
            any = true;
            break;
        }
    if (!any) return;
    // Walk with a stack of pending LIMITs, one per bracket depth.
    struct Pending {
        int depth;
        std::string_view limit;
    };
    std::vector<Pending> pending;
    int depth = 0;
    std::vector<Token> out;
    out.reserve(t.size() + 4);
    auto flushAtDepth = [&](int d) {
        while (!pending.empty() && pending.back().depth == d) {
            // Keep a trailing space/semicolon after the LIMIT clause.
            out.push_back({Tok::Space, " "});
            out.push_back({Tok::Word, Owned("LIMIT " + std::string(pending.back().limit))});
            pending.pop_back();
        }
    };
    for (size_t i = 0; i < t.size(); ++i) {
        const Token& tok = t[i];
        if (tok.kind == Tok::Punct && tok.text == "(") ++depth;
        if (tok.kind == Tok::Punct && tok.text == ")") {
            flushAtDepth(depth);
            --depth;
        }
        if (tok.kind == Tok::Punct && tok.text == ";" && depth == 0) flushAtDepth(0);
        out.push_back(tok);
        if (!IsWord(tok, "SELECT")) continue;
        size_t j = NextSolid(t, i + 1);
        if (j < t.size() && (IsWord(t[j], "DISTINCT") || IsWord(t[j], "ALL") || IsWord(t[j], "DISTINCTROW"))) {
            // Copy the qualifier and look past it.
            for (size_t k = i + 1; k <= j; ++k) {
                Token q = t[k];
                if (IsWord(q, "DISTINCTROW")) q.text = "DISTINCT";
                out.push_back(q);
            }
            i = j;
            j = NextSolid(t, j + 1);
        }
        if (j >= t.size() || !IsWord(t[j], "TOP")) continue;
        size_t k = NextSolid(t, j + 1);
        if (k >= t.size() || t[k].kind != Tok::Number) continue;
        size_t after = NextSolid(t, k + 1);
        if (after < t.size() && IsWord(t[after], "PERCENT")) continue;  // no SQLite form; left for the engine to refuse
        pending.push_back({depth, t[k].text});
        i = k;  // drop "TOP n"; the space before the select list stays
    }
    flushAtDepth(0);
    t.swap(out);
}

bool TranslatePrimaryKey(std::vector<Token>& t)
{
    // ALTER TABLE name ADD [CONSTRAINT c] PRIMARY KEY ( ... )
    size_t i = NextSolid(t, 0);
    if (i >= t.size() || !IsWord(t[i], "ALTER")) return false;
    i = NextSolid(t, i + 1);
    if (i >= t.size() || !IsWord(t[i], "TABLE")) return false;
    size_t nameAt = NextSolid(t, i + 1);
    if (nameAt >= t.size() || (t[nameAt].kind != Tok::Word && t[nameAt].kind != Tok::Ident)) return false;
    i = NextSolid(t, nameAt + 1);
    if (i >= t.size() || !IsWord(t[i], "ADD")) return false;
    i = NextSolid(t, i + 1);
    std::string indexName;
    if (i < t.size() && IsWord(t[i], "CONSTRAINT")) {
        i = NextSolid(t, i + 1);
        if (i >= t.size()) return false;
        indexName = std::string(t[i].text);
        i = NextSolid(t, i + 1);
    }
    if (i >= t.size() || !IsWord(t[i], "PRIMARY")) return false;
    i = NextSolid(t, i + 1);
    if (i >= t.size() || !IsWord(t[i], "KEY")) return false;
    i = NextSolid(t, i + 1);
    if (i >= t.size() || t[i].text != "(") return false;

    std::string table(t[nameAt].text);
    if (indexName.empty()) {
        std::string bare = table;
        if (t[nameAt].kind == Tok::Ident && bare.size() >= 2) bare = bare.substr(1, bare.size() - 2);
        indexName = "[PK_" + bare + "]";
    }
    std::string rest;
    for (size_t k = i; k < t.size(); ++k) rest += t[k].text;
    std::vector<Token> out;
    out.push_back({Tok::Word, Owned("CREATE UNIQUE INDEX " + indexName + " ON " + table + rest)});
    t.swap(out);
    return true;
}

void TranslateDeleteStar(std::vector<Token>& t)
{
    size_t first = NextSolid(t, 0);
    if (first >= t.size() || !IsWord(t[first], "DELETE")) return;
    for (size_t i = 0; i < t.size(); ++i) {
        if (!IsWord(t[i], "DELETE")) continue;
        size_t j = NextSolid(t, i + 1);
        if (j >= t.size() || t[j].text != "*" || t[j].kind != Tok::Punct) continue;
        size_t k = NextSolid(t, j + 1);
        if (k >= t.size() || !IsWord(t[k], "FROM")) continue;
        t.erase(t.begin() + static_cast<long>(j), t.begin() + static_cast<long>(k));
    }
}

bool ParseNumber(std::string_view view, SqlParam& p)
{
    if (view.empty()) return false;
    const std::string text(view);
    const char* begin = text.c_str();
    char* end = nullptr;
    bool integral = text.find_first_not_of("0123456789") == std::string::npos;
    if (integral) {
        errno = 0;
        long long v = std::strtoll(begin, &end, 10);
        if (errno != 0 || *end != '\0') return false;  // too large: the engine reads it as real
        p.kind = SqlParam::Integer;
        p.i = v;
        return true;
    }
    if (text[0] == '0' && text.size() > 1 && (text[1] == 'x' || text[1] == 'X')) return false;
    // The statement's literal, whatever the desktop's decimal separator.
    std::optional<double> d = vextal::ParseNumber(text);
    if (!d) return false;
    p.kind = SqlParam::Real;
    p.d = *d;
    return true;
}

std::string Unquote(std::string_view quoted)
{
    std::string out;
    if (quoted.size() < 2 || quoted.back() != '\'') return out;
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        out += quoted[i];
        if (quoted[i] == '\'' && quoted[i + 1] == '\'') ++i;
    }
    return out;
}

void LiftLiterals(std::vector<Token>& t, std::vector<SqlParam>& params)
{
    size_t first = NextSolid(t, 0);
    if (first >= t.size() || !(IsWord(t[first], "SELECT") || IsWord(t[first], "INSERT") ||
                               IsWord(t[first], "UPDATE") || IsWord(t[first], "DELETE")))
        return;
    bool ordinals = false;  // inside ORDER BY / GROUP BY, where numbers name columns
    int ordinalDepth = 0, depth = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        Token& tok = t[i];
        if (tok.kind == Tok::Punct && tok.text == "(") ++depth;
        if (tok.kind == Tok::Punct && tok.text == ")") {
            if (ordinals && depth == ordinalDepth) ordinals = false;
            --depth;
        }
        if (tok.kind == Tok::Word) {
            if (IsWord(tok, "ORDER") || IsWord(tok, "GROUP")) {
                size_t j = NextSolid(t, i + 1);
                if (j < t.size() && IsWord(t[j], "BY")) {
                    ordinals = true;
                    ordinalDepth = depth;
                }
            } else if (IsWord(tok, "LIMIT") || IsWord(tok, "HAVING") || IsWord(tok, "UNION") ||
                       IsWord(tok, "WHERE") || IsWord(tok, "FROM")) {
                ordinals = false;
            }
            continue;
        }
        SqlParam p;
        if (tok.kind == Tok::Text && tok.text.size() >= 2 && tok.text.back() == '\'') {
            p.kind = SqlParam::Text;
            p.s = Unquote(tok.text);
        } else if (tok.kind == Tok::Number && !ordinals) {
            if (!ParseNumber(tok.text, p)) continue;
        } else {
            continue;
        }
        params.push_back(std::move(p));
        tok.kind = Tok::Punct;
        tok.text = "?";
    }
}

std::vector<Token> TranslateTokens(const std::string& jet)
{
    g_owned.clear();
    std::vector<Token> t = Tokenize(jet);
    for (Token& tok : t)
        if (tok.kind == Tok::Date) {
            tok.text = DateLiteral(tok.text);
            tok.kind = tok.text[0] == '#' ? Tok::Punct : Tok::Text;
        }
    if (!TranslatePrimaryKey(t)) {
        TranslateDeleteStar(t);
        TranslateTop(t);
    }
    return t;
}

std::string Join(const std::vector<Token>& t, size_t reserve)
{
    std::string out;
    out.reserve(reserve);
    for (const Token& tok : t) out += tok.text;
    return out;
}

}  // namespace

std::string TranslateJetSql(const std::string& jet, std::vector<SqlParam>& params)
{
    std::vector<Token> t = TranslateTokens(jet);
    LiftLiterals(t, params);
    return Join(t, jet.size());
}

std::string TranslateJetSql(const std::string& jet)
{
    return Join(TranslateTokens(jet), jet.size() + 16);
}

}  // namespace vextal
