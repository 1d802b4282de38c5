// The scanner's position arithmetic, driven directly on one line buffer.
#include <gtest/gtest.h>

#include "Compiler.h"
#include "Scanner.h"

using namespace mirtolan;

namespace {

struct Scan {
    LineList source;
    LineListSource text{source};
    Compiler c;
    explicit Scan(const std::vector<std::string>& lines) : source(lines)
    {
        c.Source = &text;
        c.LineNo = 0;
        c.LineBuf = source.empty() ? "" : std::string(source[0]);
        c.LinePos = 1;
    }
};

TEST(Scanner, SkipspaceCountsBlanksWithoutMoving)
{
    Scan s({"   ab"});
    EXPECT_EQ(skipspace(s.c), 3);
    s.c.LinePos = 4;
    EXPECT_EQ(skipspace(s.c), 0);
    Scan t({"abcde"});
    t.c.LinePos = 6;
    EXPECT_EQ(skipspace(t.c), 0);
    EXPECT_EQ(t.c.LinePos, 6);
}

TEST(Scanner, ControlCharactersSeparateHighBytesJoin)
{
    Scan s({"a\tb\x01\x1f" "c\xe9\xff" "d"});
    EXPECT_EQ(NextWord(s.c), "a");
    EXPECT_EQ(NextWord(s.c), "b");
    EXPECT_EQ(NextWord(s.c), "c\xe9\xff" "d");
}

TEST(Scanner, RetrieveWordAtBlankIsEmpty)
{
    Scan s({"ab cd"});
    s.c.LinePos = 3;
    EXPECT_EQ(RetrieveWord(s.c), "");
    EXPECT_EQ(s.c.LinePos, 3);
}

TEST(Scanner, LongRunIsReadInWordsOf80)
{
    Scan s({std::string(85, 'x')});
    EXPECT_EQ(NextWord(s.c), std::string(80, 'x'));
    EXPECT_EQ(NextWord(s.c), std::string(5, 'x'));
}

TEST(Scanner, WordBeyondPosition255IsReadWhole)
{
    Scan s({std::string(250, ' ') + std::string(10, 'w')});
    EXPECT_EQ(NextWord(s.c), std::string(10, 'w'));
}

TEST(Scanner, ParenCommentsOneAfterAnother)
{
    Scan s({"( a ) ( b )word"});
    EXPECT_EQ(NextWord(s.c), "(");
    SkipParenComment(s.c);
    EXPECT_EQ(s.c.LinePos, 6);
    EXPECT_EQ(NextWord(s.c), "(");
    SkipParenComment(s.c);
    EXPECT_EQ(s.c.LinePos, 12);
    EXPECT_EQ(NextWord(s.c), "word");
}

TEST(Scanner, ParenCommentWithoutCloseEndsTheLine)
{
    Scan s({"( open", ") x"});
    NextWord(s.c);
    SkipParenComment(s.c);
    EXPECT_EQ(s.c.LinePos, 7);
    EXPECT_EQ(NextWord(s.c), ")");
}

TEST(Scanner, QnewlineWaitsForTheLastCharacter)
{
    Scan s({"abc", "def"});
    s.c.LinePos = 3;
    Qnewline(s.c);
    EXPECT_EQ(s.c.LineNo, 0);
    s.c.SourceEnded = true;
    s.c.LinePos = 4;
    Qnewline(s.c);
    EXPECT_EQ(s.c.LineNo, 0);
}

TEST(Scanner, QnewlineMovesOneLineOnly)
{
    Scan s({"a", "", "b"});
    EXPECT_EQ(NextWord(s.c), "a");
    EXPECT_EQ(NextWord(s.c), "");
    EXPECT_EQ(s.c.LineNo, 1);
    EXPECT_EQ(NextWord(s.c), "b");
}

TEST(Scanner, RunningOffTheEnd)
{
    Scan s({"a", "b"});
    s.c.LineNo = 1;
    NewLine(s.c);
    EXPECT_EQ(s.c.LineNo, 2);
    EXPECT_EQ(s.c.LineBuf, "");
    EXPECT_FALSE(s.c.SourceEnded);
    NewLine(s.c);
    EXPECT_EQ(s.c.LineNo, 3);
    EXPECT_TRUE(s.c.SourceEnded);
    EXPECT_EQ(NextWord(s.c), "");
}

TEST(Scanner, LineHandlersCopyFromTheWordsEnd)
{
    const struct {
        std::string line;
        void (*handler)(Compiler&);
        std::string appended;
        bool movesToNextLine;
    } cases[] = {
        {"\\\\ note", Scomment, "; note", false},
        {"\\\\", Scomment, ";", false},
        {"\\\\ note", ColonComment, "; note", true},
        {"$ ldi r16,1", ColonPassThrough, " ldi r16,1", true},
        {"$", ColonPassThrough, "", true},
    };
    for (const auto& tc : cases) {
        Scan s({tc.line, "next"});
        NextWord(s.c);
        tc.handler(s.c);
        ASSERT_EQ(s.c.ProgramCode.size(), 1u) << tc.line;
        EXPECT_EQ(s.c.ProgramCode[0], tc.appended) << tc.line;
        EXPECT_EQ(s.c.LineNo, tc.movesToNextLine ? 1 : 0) << tc.line;
        if (!tc.movesToNextLine) {
            EXPECT_EQ(s.c.LinePos, std::int64_t(tc.line.size()));
        }
    }
}

} // namespace
