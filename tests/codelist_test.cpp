// The label index of the code lists: what "is NAME: a line of this list"
// answers after pushes and tail-call replacements.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "CodeList.h"
#include "Compiler.h"

namespace mirtolan {
namespace {

struct IndexCase {
    const char* name;
    std::vector<std::string> pushes;  // a line starting with "~" replaces the last line instead
    std::vector<std::string> present; // labels the list must hold
    std::vector<std::string> absent;  // labels it must not
};

const IndexCase IndexCases[] = {
    {"word labels ignore the case of a to z", {"Foo:", "\trcall Foo"}, {"FOO:", "foo:"}, {"Fo:", "Foo"}},
    {"control labels ignore case too", {"_L5:", "_LC3:"}, {"_l5:", "_lc3:", "_LC3:"}, {"_L3:", "_LC5:", "_L:"}},
    {"another spelling of a number is another label", {"_L07:"}, {"_L07:"}, {"_L7:", "_L007:"}},
    {"label zero", {"_L0:", "_LC0:"}, {"_L0:", "_LC0:"}, {"_L00:"}},
    {"numbers far ahead of the rest are hashed", {"_L4000000000:", "_L2:"}, {"_L4000000000:", "_L2:"}, {"_L4000000001:"}},
    {"numbers too long to read", {"_L12345678901234567890123:"}, {"_L12345678901234567890123:"}, {"_L1:"}},
    {"letters after the digits", {"_L5x:", "_LCx:"}, {"_L5X:", "_lcx:"}, {"_L5:"}},
    {"a replaced label is gone", {"a:", "~\trjmp a"}, {}, {"a:"}},
    {"a replaced control label is gone", {"_L9:", "~x"}, {}, {"_L9:"}},
    {"an earlier line keeps a replaced label", {"a:", "_L9:", "a:", "_L9:", "~x"}, {"a:", "_L9:"}, {}},
    {"a replacement can be a label", {"\trcall b", "~b:"}, {"b:"}, {}},
    {"a label far ahead, replaced", {"_L90000000:", "~y:"}, {"y:"}, {"_L90000000:"}},

};

class IndexTest : public testing::TestWithParam<IndexCase> {};

TEST_P(IndexTest, Answers)
{
    const IndexCase& c = GetParam();
    CodeList list;
    std::vector<std::string> expected;
    for (const auto& p : c.pushes) {
        if (p[0] == '~') {
            list.replaceBack(p.substr(1));
            expected.back() = p.substr(1);
        } else {
            list.push_back(p);
            expected.push_back(p);
        }
    }
    for (const auto& l : c.present)
        EXPECT_TRUE(list.containsLabel(l)) << l;
    for (const auto& l : c.absent)
        EXPECT_FALSE(list.containsLabel(l)) << l;
    EXPECT_EQ(list.lines(), expected);
    list.clear();
    for (const auto& l : c.present)
        EXPECT_FALSE(list.containsLabel(l)) << "after clear: " << l;
}

INSTANTIATE_TEST_SUITE_P(CodeList, IndexTest, testing::ValuesIn(IndexCases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});

TEST(CodeList, AControlLabelFarAheadStaysFoundAsTheListGrows)
{
    CodeList list;
    list.push_back("_L9000:");
    for (int i = 0; i < 6000; ++i)
        list.push_back("x");
    list.push_back("_L8999:");
    EXPECT_TRUE(list.containsLabel("_L9000:"));
    EXPECT_TRUE(list.containsLabel("_L8999:"));
    EXPECT_FALSE(list.containsLabel("_L9001:"));
}

TEST(CodeList, ManyLabelsOfEveryKind)
{
    CodeList list;
    for (int i = 1; i <= 20000; ++i) {
        list.push_back("w" + std::to_string(i) + ":");
        list.push_back("_L" + std::to_string(i * 2) + ":");
        list.push_back("_LC" + std::to_string(20001 - i) + ":");
    }
    for (int i = 1; i <= 20000; ++i) {
        ASSERT_TRUE(list.containsLabel("W" + std::to_string(i) + ":")) << i;
        ASSERT_TRUE(list.containsLabel("_L" + std::to_string(i * 2) + ":")) << i;
        ASSERT_FALSE(list.containsLabel("_L" + std::to_string(i * 2 - 1) + ":")) << i;
        ASSERT_TRUE(list.containsLabel("_lc" + std::to_string(i) + ":")) << i;
    }
    EXPECT_FALSE(list.containsLabel("w0:"));
    EXPECT_FALSE(list.containsLabel("_LC20001:"));
}

} // namespace
} // namespace mirtolan
