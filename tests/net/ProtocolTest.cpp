#include <gtest/gtest.h>

#include <climits>

#include "net/CommandProtocol.h"
#include "net/TagScanner.h"

using namespace vextal;

namespace {

std::string Answer(const std::string& inner)
{
    return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<CommandResult xmlns:xsi=\"x\" xmlns=\"" +
           std::string(kCommandNamespace) + "\">" + inner + "</CommandResult>";
}

std::vector<std::string> Split(const std::string& text, const std::string& sep)
{
    std::vector<std::string> out{"stale"};
    EXPECT_TRUE(SplitFields(text, sep, out));
    return out;
}

}  // namespace

// The request bodies are checked as the services receive them.
TEST(CommandProtocol, SplitsFieldLists)
{
    EXPECT_EQ(Split("1.0|2.0|", "|"), (std::vector<std::string>{"1.0", "2.0", ""}));
    EXPECT_EQ(Split("1.0,2.0,", ","), (std::vector<std::string>{"1.0", "2.0"}));
    EXPECT_EQ(Split("||", "|"), (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(Split("a", "|"), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(Split("", "|").empty());
    EXPECT_EQ(Split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
    // An empty separator must not loop forever.
    EXPECT_EQ(Split("abc", ""), (std::vector<std::string>{"abc"}));
}

TEST(CommandProtocol, ReadsRetLikeAtoiWithoutOverflow)
{
    EXPECT_EQ(ReadLeadingInt("0"), 0);
    EXPECT_EQ(ReadLeadingInt(" -2</Ret>"), -2);
    EXPECT_EQ(ReadLeadingInt("12abc"), 12);
    EXPECT_EQ(ReadLeadingInt("abc"), 0);
    EXPECT_EQ(ReadLeadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadLeadingInt("-99999999999999999999"), INT_MIN);
}

TEST(CommandProtocol, ParsesRetAndMessagesInOrder)
{
    int ret = 7;
    std::string msg = "x", msg2 = "y";
    EXPECT_TRUE(ParseCommandAnswer(Answer("<Ret>0</Ret><Msg>1.05|2.10</Msg>"), ret, msg));
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(msg, "1.05|2.10");

    EXPECT_TRUE(ParseCommandAnswer(Answer("<Ret>-2</Ret><Msg>\xd3\xc3\xbb\xa7</Msg>"), ret, msg));
    EXPECT_EQ(ret, -2);
    EXPECT_EQ(msg, "\xd3\xc3\xbb\xa7");

    // Without the exact namespace attribute nothing counts.
    std::string foreign = "<CommandResult xmlns=\"http://other.example/plindo/client/clientservice\">"
                          "<Ret>0</Ret><Msg>a</Msg></CommandResult>";
    EXPECT_FALSE(ParseCommandAnswer(foreign, ret, msg));
    EXPECT_EQ(ret, -1);
    EXPECT_FALSE(ParseCommandAnswer("", ret, msg));

    // Cut answers: no closing tag means no value.
    EXPECT_FALSE(ParseCommandAnswer(Answer("<Ret>0</Ret><Msg>1.05|2.").substr(0, 150), ret, msg));

    // Msg2 with two GBK full-width spaces and white space: both removed; the
    // Msg is trimmed too.
    EXPECT_TRUE(ParseCommandAnswerEx(Answer("<Ret>0</Ret><Msg> 20240105 </Msg><Msg2>\r\n\xa1\xa1\xa1\xa1\xd6\xd0 x</Msg2>"),
                                     ret, msg, msg2));
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(msg, "20240105");
    EXPECT_EQ(msg2, "\xd6\xd0 x");
    EXPECT_FALSE(ParseCommandAnswerEx(Answer("<Ret>0</Ret><Msg>m</Msg>"), ret, msg, msg2));
    EXPECT_EQ(msg, "m");
    EXPECT_EQ(msg2, "");
}

TEST(TagScanner, HonoursTheLimitAndPositionsBeyondTheText)
{
    const std::string text = "<a>1</a><b>2</b><a>3</a>";
    std::string v;
    // A start tag ending at or beyond the limit counts as not found.
    CTagScanner limited("<a>", "</a>");
    limited.Position = 5;
    limited.Limit = 19;
    EXPECT_FALSE(limited.FindStart(text));
    limited.Limit = 20;
    limited.Position = 5;
    EXPECT_TRUE(limited.FindStart(text));

    // An end tag without its start gives no value; positions beyond the text are harmless.
    CTagScanner lonely("<x>", "</a>");
    EXPECT_FALSE(lonely.Next(text, v));
    EXPECT_EQ(v, "");
    CTagScanner far("<a>", "</a>");
    far.Position = 1000;
    EXPECT_FALSE(far.Next(text, v));
}
