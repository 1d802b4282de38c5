// The line lists under the listing: the rewrite, insertions and the label
// index must give what plain string lists would.
#include <gtest/gtest.h>

#include "CodeList.h"
#include "TextFile.h"
#include "test_support.h"

using mirtolan::CodeList;
using mirtolan::LineList;
using mirtolan::test::Lines;

namespace {

std::string Joined(const Lines& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

TEST(LineList, RewriteGivesWhatEachLineBecomes)
{
    const Lines before{"a", "", "bb:", "ccc", "\td", "e\r\nf", "ggggg"};
    const struct {
        const char* name;
        bool (*rewrite)(std::string_view, std::string&);
        Lines after;
    } cases[] = {
        {"nothing changes", [](std::string_view, std::string&) { return false; }, before},
        {"every line grows",
         [](std::string_view l, std::string& out) { out = std::string(l) + "+"; return true; },
         {"a+", "+", "bb:+", "ccc+", "\td+", "e\r\nf+", "ggggg+"}},
        {"some lines grow",
         [](std::string_view l, std::string& out) {
             if (l.size() % 2 == 0)
                 return false;
             out = "<" + std::string(l) + ">";
             return true;
         },
         {"<a>", "", "<bb:>", "<ccc>", "\td", "e\r\nf", "<ggggg>"}},
        {"one line shrinks",
         [](std::string_view l, std::string& out) {
             if (l != "ccc")
                 return false;
             out = "c";
             return true;
         },
         {"a", "", "bb:", "c", "\td", "e\r\nf", "ggggg"}},
        {"rewritten to itself", [](std::string_view l, std::string& out) { out = l; return true; }, before},
    };
    for (const auto& tc : cases) {
        LineList list(before);
        list.rewriteAll(tc.rewrite);
        EXPECT_EQ(list, tc.after) << tc.name;
        EXPECT_EQ(list.text(), Joined(tc.after)) << tc.name;
        // Only the lines from `first` on are offered to the rewrite.
        LineList tail(before);
        tail.rewriteAll(tc.rewrite, 3);
        Lines expected(before.begin(), before.begin() + 3);
        expected.insert(expected.end(), tc.after.begin() + 3, tc.after.end());
        EXPECT_EQ(tail, expected) << tc.name;
    }
}

TEST(LineList, PrependInsertReplaceBackAndClear)
{
    LineList list{"x", "y"};
    list.prepend(LineList{"1", "22"});
    EXPECT_EQ(list, (Lines{"1", "22", "x", "y"}));
    list.replaceBack("last");
    EXPECT_EQ(list, (Lines{"1", "22", "x", "last"}));
    EXPECT_EQ(list.text(), "1\r\n22\r\nx\r\nlast\r\n");
    list.prepend(LineList{});
    EXPECT_EQ(list.size(), 4u);
    list.insert(1, "in");
    list.insert(5, "end");
    EXPECT_EQ(list, (Lines{"1", "in", "22", "x", "last", "end"}));
    EXPECT_EQ(list.text(), "1\r\nin\r\n22\r\nx\r\nlast\r\nend\r\n");
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.text(), "");
}

TEST(CodeList, LabelIndexFollowsEveryChange)
{
    CodeList code;
    code.push_back("Foo:");
    code.push_back({"ba", "r:"});
    code.push_back("\trcall\tfoo");
    EXPECT_TRUE(code.containsLabel("FOO:"));
    EXPECT_TRUE(code.containsLabel("bar:"));
    EXPECT_FALSE(code.containsLabel("ba:"));
    EXPECT_FALSE(code.containsLabel("\trcall\tfoo"));
    // The last line replaced by a label and back.
    code.replaceBack("new:");
    EXPECT_TRUE(code.containsLabel("NEW:"));
    code.replaceBack("\tret");
    EXPECT_FALSE(code.containsLabel("new:"));
    // A label that stands twice stays known when its last copy goes.
    code.push_back("foo:");
    code.replaceBack("\tret");
    EXPECT_TRUE(code.containsLabel("foo:"));
}

TEST(CodeList, LabelsWithLineEndsInsideMatchOnlyWhole)
{
    CodeList code;
    code.push_back("a:\r\nb:");
    code.push_back("c:");
    EXPECT_FALSE(code.containsLabel("a:"));
    EXPECT_FALSE(code.containsLabel("b:"));
    EXPECT_TRUE(code.containsLabel("A:\r\nB:"));
    EXPECT_TRUE(code.containsLabel("c:"));
    // A name that spans two lines of the text is no line of the list.
    CodeList plain;
    plain.push_back("d:");
    plain.push_back("e:");
    EXPECT_FALSE(plain.containsLabel("d:\r\ne:"));
}

TEST(CodeList, ManyLabelsAndRemovalsKeepTheIndexTrue)
{
    CodeList code;
    for (int i = 0; i < 5000; ++i) {
        code.push_back("w" + std::to_string(i) + ":");
        code.push_back("t" + std::to_string(i) + ":");
        code.replaceBack("\tret"); // every other label is taken back at once
    }
    for (int i = 0; i < 5000; i += 7) {
        EXPECT_TRUE(code.containsLabel("W" + std::to_string(i) + ":")) << i;
        EXPECT_FALSE(code.containsLabel("t" + std::to_string(i) + ":")) << i;
    }
}

} // namespace

namespace {

// Reads a file through FileSource in the compiler's order: forward, now and
// then asking again for the line it asked for last or the one before, and
// past the end.
Lines ReadAsTheCompilerDoes(const std::string& path, int seed)
{
    mirtolan::FileSource source(path);
    Lines lines;
    std::string_view line;
    for (std::size_t i = 0; source.line(i, line); ++i) {
        lines.emplace_back(line);
        if ((i + std::size_t(seed)) % 3 == 0) {
            EXPECT_TRUE(source.line(i, line));
            EXPECT_EQ(line, lines.back());
        }
        if (i > 0 && (i + std::size_t(seed)) % 5 == 0) {
            EXPECT_TRUE(source.line(i - 1, line));
            EXPECT_EQ(line, lines[i - 1]);
        }
    }
    EXPECT_FALSE(source.line(lines.size(), line));
    EXPECT_FALSE(source.line(lines.size() + 1, line));
    return lines;
}

// Reading a file block by block must split it exactly as splitting the whole
// text at once, also where a line or a CR LF straddles two blocks.
TEST(LineList, FileReadInBlocksSplitsLikeTheWholeText)
{
    const mirtolan::test::TempDir tmp;
    const std::string& dir = tmp.path();
    constexpr std::size_t Block = 1 << 16; // the reader's block size
    const std::string pieces[] = {"a", "\r", "\n", "\r\n", "bc", "", "\n\r"};
    std::uint32_t seed = 5;
    for (int round = 0; round < 40; ++round) {
        std::string text;
        while (text.size() < 3 * Block) {
            seed = seed * 1664525u + 1013904223u;
            text += pieces[(seed >> 24) % std::size(pieces)];
        }
        // Put a line end right at a block edge, each way round.
        text[Block - 1] = round % 2 ? '\r' : 'x';
        text[Block] = round % 3 ? '\n' : 'y';
        text.resize(3 * Block - (round % 4));
        mirtolan::test::WriteFile(dir + "/t.txt", text);
        ASSERT_EQ(mirtolan::SplitLineList(text), mirtolan::SplitLines(text)) << round;
        ASSERT_EQ(ReadAsTheCompilerDoes(dir + "/t.txt", round), mirtolan::SplitLines(text)) << round;
    }
}

TEST(FileSource, HugeLinesEmptyFilesAndTheEnd)
{
    const mirtolan::test::TempDir tmp;
    const std::string& dir = tmp.path();
    const std::string texts[] = {
        "",
        "\n",
        "no line end",
        std::string(3 << 20, 'w') + "\n: x ;\r\n" + std::string(70000, '\r'),
        "a\nb\n" + std::string(1 << 20, ' ') + "\n",
    };
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        mirtolan::test::WriteFile(dir + "/t.txt", texts[i]);
        EXPECT_EQ(ReadAsTheCompilerDoes(dir + "/t.txt", int(i)), mirtolan::SplitLines(texts[i])) << i;
    }
    EXPECT_THROW(mirtolan::FileSource(dir + "/missing.4th"), mirtolan::CompileError);
}

} // namespace
