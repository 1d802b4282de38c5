// Whole compiles: source lines and options in, program section and messages out.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace mirtolan;
using namespace mirtolan::test;

namespace {

struct Case {
    const char* name;
    Lines source;
    Lines program;  // the program section of the listing
    Lines messages; // the messages the source raised (without the two summary lines)
    Options options = {};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class CompileCase : public ::testing::TestWithParam<Case> {};

TEST_P(CompileCase, ProgramAndMessages)
{
    const Case& tc = GetParam();
    const Result r = Compile(tc.source, tc.options);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.program, tc.program);
    ASSERT_GE(r.messages.size(), 2u);
    const Lines sourceMessages(r.messages.begin(), r.messages.end() - 2);
    EXPECT_EQ(sourceMessages, tc.messages);
    EXPECT_EQ(r.messages[r.messages.size() - 2], "Compile Completed");
}

// The file the command-line tool writes must be the listing, byte for byte.
TEST_P(CompileCase, WrittenListingIsTheShownOne)
{
    const Case& tc = GetParam();
    const Result shown = Compile(tc.source, tc.options);
    Options written = tc.options;
    written.write = true;
    const Result r = Compile(tc.source, written);
    EXPECT_EQ(r.error, shown.error);
    EXPECT_EQ(r.listing, shown.listing);
    EXPECT_EQ(r.messages, shown.messages);
}

const Lines Push7{"\tldi\tFtmp1,7", "\tst\t-Y,Ftmp1"};

Lines cat(std::initializer_list<Lines> parts)
{
    Lines out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Lines push(const std::string& v) { return {"\tldi\tFtmp1," + v, "\tst\t-Y,Ftmp1"}; }

const Case WorkedExamples[] = {
    {"ColonDefinitions",
     {": seven 7 ;", ": twice seven seven ;", ": letter 'A twice ;", "HEX", ": ten A seven ;", ": oops frob ;"},
     {"seven:", "\tldi\tFtmp1,7", "\tst\t-Y,Ftmp1", "\tret", "twice:", "\trcall\tseven", "\trjmp\tseven", "letter:",
      "\tldi\tFtmp1,65", "\tst\t-Y,Ftmp1", "\trjmp\ttwice", "ten:", "\tldi\tFtmp1,0x000A", "\tst\t-Y,Ftmp1",
      "\trjmp\tseven", "oops:", "\tret"},
     {"Not defined frob ,Line 6"}},
    {"ColonDefinitionsWithZcall",
     {": seven 7 ;", ": twice seven seven ;", ": letter 'A twice ;", "HEX", ": ten A seven ;", ": oops frob ;"},
     {"seven:", "\tldi\tFtmp1,7", "\tst\t-Y,Ftmp1", "\tret", "twice:", "\tZcall\tseven", "\tZjmp\tseven", "letter:",
      "\tldi\tFtmp1,65", "\tst\t-Y,Ftmp1", "\tZjmp\ttwice", "ten:", "\tldi\tFtmp1,0x000A", "\tst\t-Y,Ftmp1",
      "\tZjmp\tseven", "oops:", "\tret"},
     {"Not defined frob ,Line 6"},
     {.zcall = true}},
    {"ConstantsAndVariables",
     {"VARIABLE count", "VARIABLE buf ALLOT 9", "CONSTANT limit 200", "HEX", "CONSTANT mask (LOW) 1F0",
      "CONSTANT bad xyz", "DECIMAL", ": setup (HIGH) 1234 count ;"},
     {"count:", "\tldi\tFtmp1,0", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,129", "\tst\t-Y,Ftmp1", "\tret",
      "buf:", "\tldi\tFtmp1,0", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,130", "\tst\t-Y,Ftmp1", "\tret",
      "limit:", "\tldi\tFtmp1,200", "\tst\t-Y,Ftmp1", "\tret",
      "mask:", "\tldi\tFtmp1,240", "\tst\t-Y,Ftmp1", "\tret",
      "bad:", "\tldi\tFtmp1,0", "\tst\t-Y,Ftmp1", "\tret",
      "setup:", "\tldi\tFtmp1,4", "\tst\t-Y,Ftmp1", "\trjmp\tcount"},
     {"Const.Value expected: xyz ,Line 6", "Not defined xyz ,Line 6"}},
    {"IfElseThen",
     {"$ready:", "$on:", "$off:", ": blink ready IF on ELSE off THEN ;"},
     {"ready:", "on:", "off:", "blink:", "\trcall\tready", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\trcall\ton",
      "\trjmp\t_L2\t\t; ELSE", "_L1:", "\trcall\toff", "_L2:\t\t\t\t; THEN", "\tret"},
     {}},
    {"BeginWhileRepeat",
     {"$busy:", "$tick:", ": wait BEGIN busy WHILE tick REPEAT ;"},
     {"busy:", "tick:", "wait:", "_L1:\t\t\t\t; BEGIN", "\trcall\tbusy", "\trcall\t_TestIfZero \t; WHILE", "\tbreq\t_L2",
      "\trcall\ttick", "\trjmp\t_L1\t\t; REPEAT", "_L2:", "\tret"},
     {}},
    {"CaseOfEndofDefault",
     {"$red:", "$green:", "$blue:", ": color CASE 1 OF red ENDOF 2 OF green ENDOF DEFAULT blue ENDCASE ;"},
     {"red:", "green:", "blue:", "color:", "\tld\tFtmp2,Y+\t; CASE", "\tldi\tFtmp1,1", "\tcp\tFtmp1,Ftmp2\t; OF",
      "\tbrne\t_L1", "\trcall\tred", "\trjmp\t_LC1\t\t; ENDOF", "_L1:", "\tldi\tFtmp1,2", "\tcp\tFtmp1,Ftmp2\t; OF",
      "\tbrne\t_L2", "\trcall\tgreen", "\trjmp\t_LC1\t\t; ENDOF", "_L2:", "\t\t\t\t; DEFAULT", "\trcall\tblue",
      "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {}},
    {"DoLoop",
     {"$toggle:", ": pulse 10 0 DO toggle LOOP ;"},
     {"toggle:", "pulse:", "\tldi\tFtmp1,10", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,0", "\tst\t-Y,Ftmp1", "\trcall\tDO",
      "_L1:\t\t\t\t; DO", "\trcall\ttoggle", "\trcall\tLOOP", "\tbrcc\t_L1\t\t; LOOP", "\tret"},
     {}},
};
INSTANTIATE_TEST_SUITE_P(WorkedExamples, CompileCase, ::testing::ValuesIn(WorkedExamples),
                         [](const auto& info) { return std::string(info.param.name); });

const Case TopLevel[] = {
    {"EmptySource", {}, {}, {}},
    {"LoneDollarLineIsSkipped", {"$"}, {}, {}},
    {"DollarLineLosesOneDollar", {"$$ x", "$ nop"}, {"$ x", " nop"}, {}},
    {"BlankBeforeDollarIsCompiledAsWords", {" $x"}, {}, {"Not defined $x ,Line 1"}},
    {"OneCharacterLineIsSkipped", {";", "x"}, {}, {}},
    {"NumbersAndSemicolonsAreNotTopLevelWords", {"12 ;;"}, {}, {"Not defined 12 ,Line 1", "Not defined ;; ,Line 1"}},
    {"ColonMustStandAlone", {":seven 7 ;"}, {}, {"Not defined :seven ,Line 1", "Not defined 7 ,Line 1", "Not defined ; ,Line 1"}},
    {"CommentBecomesAssemblerComment", {"\\\\ hello world", "HEX \\\\"}, {"; hello world", ";"}, {}},
    {"ParenCommentsInARow", {"( a ) ( b ) frob"}, {}, {"Not defined frob ,Line 1"}},
    {"SingleGluedCharacterAfterCommentIsNotRead", {"( a )y", "( a )yz"}, {}, {"Not defined yz ,Line 2"}},
    {"ParenCommentEndsWithTheLine", {"( no close", ") x"}, {}, {"Not defined ) ,Line 2", "Not defined x ,Line 2"}},
    {"KeywordsInAnyCase", {"hex", ": a ff ;", "Decimal", ": b 10 ;"},
     {"a:", "\tldi\tFtmp1,0x00FF", "\tst\t-Y,Ftmp1", "\tret", "b:", "\tldi\tFtmp1,10", "\tst\t-Y,Ftmp1", "\tret"}, {}},
    {"DollarLineReachedWhileReadingOn", {"HEX", "$label:", "frob"}, {"label:"}, {"Not defined frob ,Line 3"}},
    {"ColonAsLastWordFindsNoName", {"HEX :"}, {":", "\tret"}, {}},
    {"TwoProblemsOnOneLine", {"foo bar"}, {}, {"Not defined foo ,Line 1", "Not defined bar ,Line 1"}},
};
INSTANTIATE_TEST_SUITE_P(TopLevel, CompileCase, ::testing::ValuesIn(TopLevel),
                         [](const auto& info) { return std::string(info.param.name); });

const Case Definitions[] = {
    {"EmptyDefinition", {": noop ;"}, {"noop:", "\tret"}, {}},
    {"CallsKeepTheSourceSpelling", {": seven 7 ;", ": s SEVEN 1 ;"},
     cat({{"seven:"}, Push7, {"\tret", "s:", "\trcall\tSEVEN"}, push("1"), {"\tret"}}), {}},
    {"RecursionFindsItsOwnLabel", {": r r ;"}, {"r:", "\trjmp\tr"}, {}},
    {"DefinedWordBeatsNumber", {": 10 5 ;", ": a 10 ;"}, cat({{"One0:"}, push("5"), {"\tret", "a:", "\trjmp\tOne0"}}), {}},
    {"DefinitionRunsOverLines", {": a", "  7", "", ";"}, cat({{"a:"}, Push7, {"\tret"}}), {}},
    {"NameOnTheNextLine", {": ", "  b 7 ;"}, cat({{"b:"}, Push7, {"\tret"}}), {}},
    {"GluedSemicolonIsAWord", {": a seven; ;"}, {"a:", "\tret"}, {"Not defined seven; ,Line 1"}},
    {"CommentInsideDefinition", {": a 7 \\\\ note ;", ";"}, cat({{"a:"}, Push7, {"; note ;", "\tret"}}), {}},
    {"ParenCommentInsideDefinition", {": a ( 1 2 ) 7 ;"}, cat({{"a:"}, Push7, {"\tret"}}), {}},
    {"PassThroughCallBecomesJump", {": a $ RCALL init", ";"}, {"a:", " rjmp init"}, {}},
    {"PassThroughAtLineEndIsEmptyLine", {": a $", ";"}, {"a:", "", "\tret"}, {}},
    {"LoneSemicolonLineEndsDefinition", {": a 7", ";", "frob"}, cat({{"a:"}, Push7, {"\tret"}}), {"Not defined frob ,Line 3"}},
    {"SourceEndsInsideDefinition", {": a 7"}, cat({{"a:"}, Push7, {"\tret"}}), {}},
    {"OpenIfAtEndOfSourceCarriesLineNPlus2", {": a IF"},
     {"a:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\tret"}, {"Conditional not matched. Line 3"}},
    {"TopLevelWordsAreOrdinaryInside", {": a HEX ;"}, {"a:", "\tret"}, {"Not defined HEX ,Line 1"}},
    {"LongWordReadInRunsOf80",
     {": a " + std::string(85, 'x') + " ;"}, {"a:", "\tret"},
     {"Not defined " + std::string(80, 'x') + " ,Line 1", "Not defined xxxxx ,Line 1"}},
    {"LongLinesAreCompiledInFull", {": a" + std::string(300, ' ') + "7 ;"}, cat({{"a:"}, Push7, {"\tret"}}), {}},
    {"ArchiveWordCalledByHeaderNameThenBySourceName", {": x dup dup ;"}, {"x:", "\trcall\tDUP", "\trjmp\tdup"}, {}},
    {"SourceDefinitionHidesArchiveEntry", {": dup 7 ;", ": x dup ;"}, cat({{"dup:"}, Push7, {"\tret", "x:", "\trjmp\tdup"}}), {}},
};
INSTANTIATE_TEST_SUITE_P(Definitions, CompileCase, ::testing::ValuesIn(Definitions),
                         [](const auto& info) { return std::string(info.param.name); });

const Case Numbers[] = {
    {"CharacterLiterals", {": a 'A 'AB ' ;"}, cat({{"a:"}, push("65"), push("65"), push("0"), {"\tret"}}), {}},
    {"CharacterLiteralsInHex", {"HEX", ": a 'A ;"}, cat({{"a:"}, push("0x0041"), {"\tret"}}), {}},
    {"HexDigitsAreLiteralsInHexMode", {"HEX", ": a BEEF FFFFFFFF ;"}, cat({{"a:"}, push("0xBEEF"), push("0xFFFFFFFF"), {"\tret"}}), {}},
    {"SignsAndPrefixesAreNotNumbersInHexMode", {"HEX", ": a -1 +1 $1F 0x1F 100000000 ;"}, {"a:", "\tret"},
     {"Not defined -1 ,Line 2", "Not defined +1 ,Line 2", "Not defined $1F ,Line 2", "Not defined 0x1F ,Line 2",
      "Not defined 100000000 ,Line 2"}},
    {"HexFormsInDecimalMode", {": a $FF 0xFF xFF XFF 0XFF ;"},
     cat({{"a:"}, push("255"), push("255"), push("255"), push("255"), push("255"), {"\tret"}}), {}},
    {"DecimalRange", {": a 2147483647 -2147483648 2147483648 +5 ;"},
     cat({{"a:"}, push("2147483647"), push("-2147483648"), push("5"), {"\tret"}}), {"Not defined 2147483648 ,Line 1"}},
    {"LiteralsAbove255AreWrittenInFull", {": a 1000 ;"}, cat({{"a:"}, push("1000"), {"\tret"}}), {}},
    {"ByteOperators", {": a (HIGH) 1234 (LOW) 1234 (h) -1 (l) -1 (H) -256 ;"},
     cat({{"a:"}, push("4"), push("210"), push("0"), push("255"), push("255"), {"\tret"}}), {}},
    {"ByteOperatorsInHex", {"HEX", ": a (HIGH) 1234 (LOW) 1234 ;"}, cat({{"a:"}, push("0x0012"), push("0x0034"), {"\tret"}}), {}},
    {"ByteOperatorNamesItsBadOperand", {": a (HIGH) foo ;"}, {"a:", "\tret"}, {"Not defined foo ,Line 1"}},
    {"ByteOperatorSwallowsTheSemicolon", {": a (HIGH) ;", "7 ;"}, {"a:", "\tret"}, {"Not defined 7 ,Line 2", "Not defined ; ,Line 2"}},
    {"ConstantsAlwaysDecimal", {"HEX", "CONSTANT limit C8"}, cat({{"limit:"}, push("200"), {"\tret"}}), {}},
    {"ConstantCharacterValues", {"CONSTANT c 'AB", "CONSTANT d '"}, cat({{"c:"}, push("65"), {"\tret", "d:"}, push("0"), {"\tret"}}), {}},
    {"ConstantValueOnNextLineIsAKeyword", {"CONSTANT x", "VARIABLE y"},
     cat({{"x:"}, push("0"), {"\tret", "y:"}, push("0"), push("129"), {"\tret"}}), {"Const.Value expected: VARIABLE ,Line 2"}},
    {"ConstantAtEndOfSource", {"CONSTANT x"}, cat({{"x:"}, push("0"), {"\tret"}}), {"Const.Value expected:  ,Line 2"}},
    {"ConstantNameIsNoValue", {"CONSTANT aa 1", "CONSTANT b aa"},
     cat({{"aa:"}, push("1"), {"\tret", "b:"}, push("0"), {"\tret"}}), {"Const.Value expected: aa ,Line 2", "Not defined aa ,Line 2"}},
    {"GivenBackLastCharacterIsNotReadAgain", {"CONSTANT b a"}, cat({{"b:"}, push("0"), {"\tret"}}), {"Const.Value expected: a ,Line 1"}},
    {"VariableAt300", {"VARIABLE v"}, cat({{"v:"}, push("1"), push("44"), {"\tret"}}), {}, {.varStart = "12C"}},
    {"AllotInHexCountsInHex", {"HEX", "VARIABLE a ALLOT 10 VARIABLE b"},
     cat({{"a:"}, push("0"), push("129"), {"\tret", "b:"}, push("0"), push("146"), {"\tret"}}), {}},
    {"BadAllotIsReadAgain", {"ALLOT foo"}, {}, {"Const.Value expected: foo ,Line 1", "Not defined foo ,Line 1"}},
    {"VariableInsideDefinitionIsOrdinary", {"VARIABLE v", ": a v ;"}, cat({{"v:"}, push("0"), push("129"), {"\tret", "a:", "\trjmp\tv"}}), {}},
};
INSTANTIATE_TEST_SUITE_P(Numbers, CompileCase, ::testing::ValuesIn(Numbers),
                         [](const auto& info) { return std::string(info.param.name); });

const Lines If1{"\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1"};

const Case Control[] = {
    {"KeywordsInAnyCaseCommentsUpper", {": a if Then ;"}, cat({{"a:"}, If1, {"_L1:\t\t\t\t; THEN", "\tret"}}), {}},
    {"NestedIfsCloseInnermostFirst", {": a IF IF THEN THEN ;"},
     {"a:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L2",
      "_L2:\t\t\t\t; THEN", "_L1:\t\t\t\t; THEN", "\tret"}, {}},
    {"LabelsRunOnAcrossDefinitions", {": a IF THEN IF THEN ;", ": b BEGIN AGAIN ;"},
     {"a:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "_L1:\t\t\t\t; THEN", "\trcall\t_TestIfZero \t; IF",
      "\tbreq\t_L2", "_L2:\t\t\t\t; THEN", "\tret", "b:", "_L3:\t\t\t\t; BEGIN", "\trjmp\t_L3\t\t; AGAIN", "\tret"}, {}},
    {"BeginUntil", {": a BEGIN 1 UNTIL ;"},
     cat({{"a:", "_L1:\t\t\t\t; BEGIN"}, push("1"), {"\trcall\t_TestIfZero \t; UNTIL", "\tbreq\t_L1", "\tret"}}), {}},
    {"ZcallOnlyForCallsNotJumps", {": a IF ELSE THEN ;"},
     {"a:", "\tZcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\trjmp\t_L2\t\t; ELSE", "_L1:", "_L2:\t\t\t\t; THEN", "\tret"},
     {}, {.zcall = true}},
    {"PlusLoopWithZcall", {": a 10 0 DO 2 +LOOP ;"},
     cat({{"a:"}, push("10"), push("0"), {"\tZcall\tDO", "_L1:\t\t\t\t; DO"}, push("2"),
          {"\tZcall\tplsLOOP", "\tbrcc\t_L1\t\t; +LOOP", "\tret"}}),
     {}, {.zcall = true}},
    {"SecondLoopCallsWithTheKeywordsText", {": a DO LOOP do loop ;"},
     {"a:", "\trcall\tDO", "_L1:\t\t\t\t; DO", "\trcall\tLOOP", "\tbrcc\t_L1\t\t; LOOP", "\trcall\tDO",
      "_L2:\t\t\t\t; DO", "\trcall\tLOOP", "\tbrcc\t_L2\t\t; LOOP", "\tret"}, {}},
    {"LoneThenReportedTwice", {": a THEN ;"}, {"a:", "\tret"},
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1"}},
    {"RepeatWithoutWhile", {": a BEGIN 1 REPEAT ;"}, cat({{"a:", "_L1:\t\t\t\t; BEGIN"}, push("1"), {"\tret"}}),
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1"}},
    {"LoopWithoutDoCompilesNoCall", {": a LOOP ;"}, {"a:", "\tret"},
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1"}},
    {"OpenIfsReportedOnceAtTheSemicolon", {": a IF IF", ";"},
     {"a:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L2", "\tret"},
     {"Conditional not matched. Line 2"}},
    {"ElseWithNothingOpen", {": a ELSE ;"}, {"a:", "\trjmp\t_L1\t\t; ELSE", "\tret"}, {}},
    {"CaseWithoutDefault", {": a CASE 1 OF ENDOF ENDCASE ;"},
     {"a:", "\tld\tFtmp2,Y+\t; CASE", "\tldi\tFtmp1,1", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L1",
      "\trjmp\t_LC1\t\t; ENDOF", "_L1:", "_LC1:\t\t\t\t; ENDCASE", "\tret"}, {}},
    {"DefaultRightAfterCase", {": a CASE DEFAULT ENDCASE ;"},
     {"a:", "\tld\tFtmp2,Y+\t; CASE", "\t\t\t\t; DEFAULT", "_LC1:\t\t\t\t; ENDCASE", "\tret"}, {}},
    {"CaseConstantsAreNeverLookedUp", {"$red:", ": a CASE red OF ENDOF 'x OF ENDOF ENDCASE ;"},
     {"red:", "a:", "\tld\tFtmp2,Y+\t; CASE", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L1", "\trjmp\t_LC1\t\t; ENDOF", "_L1:",
      "\tldi\tFtmp1,120", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L2", "\trjmp\t_LC1\t\t; ENDOF", "_L2:",
      "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {"red as Case Parameter ,Line 2"}},
    {"CaseLeftOpen", {": a CASE ;"}, {"a:", "\tld\tFtmp2,Y+\t; CASE", "\tret"},
     {"Conditional not matched. Line 1", "EndCase missing  ,Line 1"}},
    {"DefaultOutsideCase", {": a DEFAULT CASE DEFAULT DEFAULT ENDCASE ;"},
     {"a:", "\tld\tFtmp2,Y+\t; CASE", "\t\t\t\t; DEFAULT", "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {"Sytax Error ,Line 1", "Sytax Error ,Line 1"}},
    {"EndcaseWithNothingOpen", {": a ENDCASE ;"}, {"a:", "\tret"},
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1"}},
    {"EndofWithoutCaseIsReported", {": a ENDOF ;"}, {"a:", "\trjmp\t_LC0\t\t; ENDOF", "\tret"},
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1", "EndCase missing  ,Line 1"}},
    {"PushAfterUnmatchedCloserStaysInBounds", {": a THEN IF THEN ;", ": b IF THEN ;"},
     {"a:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\tret", "b:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L2",
      "_L2:\t\t\t\t; THEN", "\tret"},
     {"Conditional not matched. Line 1", "Conditional not matched. Line 1", "Conditional not matched. Line 1"}},
    {"DefinitionEndingInThenGetsRet", {": a 1 IF 7 THEN ;"},
     cat({{"a:"}, push("1"), If1, Push7, {"_L1:\t\t\t\t; THEN", "\tret"}}), {}},
};
INSTANTIATE_TEST_SUITE_P(Control, CompileCase, ::testing::ValuesIn(Control),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The words beyond the classic set, in both cell sizes.

// The flash address of text n, pushed high byte first.
Lines textAddress(const std::string& n)
{
    return {"\tldi\tFtmp1,high(2*_S" + n + ")", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,low(2*_S" + n + ")", "\tst\t-Y,Ftmp1"};
}
// A 16-bit cell: its high byte pushed first; two equal bytes loaded once.
Lines push16(int v)
{
    const int high = (v >> 8) & 0xFF, low = v & 0xFF;
    Lines l{"\tldi\tFtmp1," + std::to_string(high), "\tst\t-Y,Ftmp1"};
    if (low != high)
        l.push_back("\tldi\tFtmp1," + std::to_string(low));
    l.push_back("\tst\t-Y,Ftmp1");
    return l;
}
const Options Wide{.cells = 16};
Lines sts(int address) { return {"\tld\tFtmp1,Y+", "\tsts\t" + std::to_string(address) + ",Ftmp1"}; }
// The routine that copies the initialised data, for one run of bytes at
// `address`, and the image that follows it.
Lines initData(int address, std::size_t count, bool noop, const Lines& image)
{
    Lines l{"; ---- initialised data, copied into RAM before main", "_RInitData:", "\tldi\tZL,low(2*_RInitImage)",
            "\tldi\tZH,high(2*_RInitImage)", "\t_RFlashPage\t2*_RInitImage",
            "\tldi\tXL,low(" + std::to_string(address) + ")", "\tldi\tXH,high(" + std::to_string(address) + ")",
            "\tldi\tr18,low(" + std::to_string(count) + ")", "\tldi\tr19,high(" + std::to_string(count) + ")",
            "\trcall\t_RInitCopy", "\t_RFlashPage\t0", "\tret", "_RInitCopy:", "\t_RFlashByte\tFtmp1",
            "\tst\tX+,Ftmp1", "\tsubi\tr18,1", "\tsbci\tr19,0", "\tbrne\t_RInitCopy", "\tret"};
    if (noop)
        l.insert(l.end(), {"_RNoop:", "\tret"});
    l.push_back("_RInitImage:");
    l.insert(l.end(), image.begin(), image.end());
    return l;
}

const Case Language[] = {
    {"DotQuoteSendsTextPlacedAfterTheDefinition", {": t .\" Hi\" 7 ;", ": u ;"},
     cat({{"t:"}, textAddress("1"), push("2"), {"\trcall\tTYPEP"}, Push7, {"\tret", "_S1:", "\t.db\t\"Hi\"", "u:", "\tret"}}),
     {}},
    {"DotQuoteInWideCellsPushesALengthCell", {": t .\" Hi\" ;"},
     cat({{"t:"}, textAddress("1"), push16(2), {"\trjmp\tTYPEP", "_S1:", "\t.db\t\"Hi\""}}), {}, Wide},
    {"TextsOfOddLengthArePaddedAndOddCharactersAreNumbers", {": t S\" it's\" S\" a\\b\" S\" \xE9\" ;"},
     cat({{"t:"}, textAddress("1"), push("4"), textAddress("2"), push("3"), textAddress("3"), push("1"),
          {"\tret", "_S1:", "\t.db\t\"it\",39,\"s\"", "_S2:", "\t.db\t\"a\",92,\"b\",0", "_S3:", "\t.db\t233,0"}}),
     {}},
    {"LongTextsTakeSeveralLines", {": t S\" " + std::string(20, 'x') + "\" ;"},
     cat({{"t:"}, textAddress("1"), push("20"),
          {"\tret", "_S1:", "\t.db\t\"" + std::string(16, 'x') + "\"", "\t.db\t\"xxxx\""}}),
     {}},
    {"EmptyTextAndTextToTheEndOfTheLine", {": t S\" \" S\" ab", ";"},
     cat({{"t:"}, textAddress("1"), push("0"), textAddress("2"), push("2"), {"\tret", "_S1:", "_S2:", "\t.db\t\"ab\""}}),
     {}},
    {"CQuotePushesACountedString", {": t C\" abc\" ;"},
     cat({{"t:"}, textAddress("1"), {"\tret", "_S1:", "\t.db\t3,\"abc\""}}), {}},
    {"QuestionDoSkipsToTheLoopsExit", {": t 0 0 ?DO LOOP ;"},
     cat({{"t:"}, push("0"), push("0"),
          {"\trcall\t_QDo", "\tbrcc\t_L1", "\trjmp\t_LV1", "_L1:\t\t\t\t; ?DO", "\trcall\tLOOP", "\tbrcc\t_L1\t\t; LOOP",
           "_LV1:", "\tret"}}),
     {}},
    {"LeaveUnloopsAndJumpsToTheInnermostDosExit", {": t DO DO IF LEAVE THEN LOOP LOOP ;"},
     {"t:", "\trcall\tDO", "_L1:\t\t\t\t; DO", "\trcall\tDO", "_L2:\t\t\t\t; DO", "\trcall\t_TestIfZero \t; IF",
      "\tbreq\t_L3", "\trcall\tUNLOOP", "\trjmp\t_LV2\t\t; LEAVE", "_L3:\t\t\t\t; THEN", "\trcall\tLOOP",
      "\tbrcc\t_L2\t\t; LOOP", "_LV2:", "\trcall\tLOOP", "\tbrcc\t_L1\t\t; LOOP", "\tret"},
     {}},
    {"ExitReturnsAndRecurseCallsItself", {": t IF EXIT THEN RECURSE ;"},
     {"t:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L1", "\tret", "_L1:\t\t\t\t; THEN", "\trjmp\tt"}, {}},
    {"TwoWhilesRepeatThen", {": t BEGIN WHILE WHILE REPEAT THEN ;"},
     {"t:", "_L1:\t\t\t\t; BEGIN", "\trcall\t_TestIfZero \t; WHILE", "\tbreq\t_L2", "\trcall\t_TestIfZero \t; WHILE",
      "\tbreq\t_L3", "\trjmp\t_L1\t\t; REPEAT", "_L3:", "_L2:\t\t\t\t; THEN", "\tret"},
     {}},
    {"WhileUntilThen", {": t BEGIN WHILE UNTIL THEN ;"},
     {"t:", "_L1:\t\t\t\t; BEGIN", "\trcall\t_TestIfZero \t; WHILE", "\tbreq\t_L2", "\trcall\t_TestIfZero \t; UNTIL",
      "\tbreq\t_L1", "_L2:\t\t\t\t; THEN", "\tret"},
     {}},
    {"TickPushesTheLabelOfAWordCopiedIfNeeded", {": t ['] 1+ ['] t ;"},
     {"t:", "\tldi\tFtmp1,high(Onepls)", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,low(Onepls)", "\tst\t-Y,Ftmp1",
      "\tldi\tFtmp1,high(t)", "\tst\t-Y,Ftmp1", "\tldi\tFtmp1,low(t)", "\tst\t-Y,Ftmp1", "\tret"},
     {}},
    {"DeferIsAndItsInitialisedCell", {"DEFER d", ": t ['] t IS d d ;"},
     cat({{"d:", "\tlds\tZL,129", "\tlds\tZH,130", "\tijmp", "t:", "\tldi\tFtmp1,high(t)", "\tst\t-Y,Ftmp1",
           "\tldi\tFtmp1,low(t)", "\tst\t-Y,Ftmp1"},
          sts(129), {"\tld\tFtmp1,Y+", "\tsts\t130,Ftmp1", "\trjmp\td"},
          initData(129, 2, true, {"\t.db\tlow(_RNoop),high(_RNoop)"})}),
     {}},
    {"DeferIsAndTickAreTheSameInWideCells", {"DEFER d", ": t ['] t IS d ;"},
     cat({{"d:", "\tlds\tZL,129", "\tlds\tZH,130", "\tijmp", "t:", "\tldi\tFtmp1,high(t)", "\tst\t-Y,Ftmp1",
           "\tldi\tFtmp1,low(t)", "\tst\t-Y,Ftmp1"},
          sts(129), sts(130), {"\tret"}, initData(129, 2, true, {"\t.db\tlow(_RNoop),high(_RNoop)"})}),
     {}, Wide},
    {"ValueAndTo", {"7 VALUE v", ": t 9 TO v v ;"},
     cat({{"v:", "\tlds\tFtmp1,129", "\tst\t-Y,Ftmp1", "\tret", "t:"}, push("9"), sts(129), {"\trjmp\tv"},
          initData(129, 1, false, {"\t.db\t7,0"})}),
     {}},
    {"ValueAndToInWideCells", {"1000 VALUE v", ": t 9 TO v v ;"},
     cat({{"v:", "\tlds\tFtmp1,130", "\tst\t-Y,Ftmp1", "\tlds\tFtmp1,129", "\tst\t-Y,Ftmp1", "\tret", "t:"}, push16(9),
          sts(129), {"\tld\tFtmp1,Y+", "\tsts\t130,Ftmp1", "\trjmp\tv"}, initData(129, 2, false, {"\t.db\t232,3"})}),
     {}, Wide},
    {"CreateTableOfBytesAndCells", {"CREATE t 1 C, -1 , 'A C,", "VARIABLE x"},
     cat({{"t:"}, push("0"), push("129"), {"\tret", "x:"}, push("0"), push("132"), {"\tret"},
          initData(129, 3, false, {"\t.db\t1,255,65,0"})}),
     {}},
    {"CreateTableInWideCells", {"CREATE t 1 C, 1000 , 2 C,"},
     cat({{"t:"}, push("0"), push("129"), {"\tret"}, initData(129, 4, false, {"\t.db\t1,232,3,2"})}), {}, Wide},
    {"StandardOrderConstantAndAllot", {"5 CONSTANT five", "CREATE buf 9 ALLOT", "VARIABLE x", "CONSTANT old 6"},
     cat({{"five:"}, push("5"), {"\tret", "buf:"}, push("0"), push("129"), {"\tret", "x:"}, push("0"), push("138"),
          {"\tret", "old:"}, push("6"), {"\tret"}}),
     {}},
    {"NumbersWaitBehindComments", {"5 ( five )", "\\\\ a note", "CONSTANT five"},
     cat({{"; a note", "five:"}, push("5"), {"\tret"}}), {}},
    {"CaseTakesANamedConstant", {"2 CONSTANT two", ": t CASE two OF ENDOF ENDCASE ;"},
     cat({{"two:"}, push("2"),
          {"\tret", "t:", "\tld\tFtmp2,Y+\t; CASE", "\tldi\tFtmp1,2", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L1",
           "\trjmp\t_LC1\t\t; ENDOF", "_L1:", "_LC1:\t\t\t\t; ENDCASE", "\tret"}}),
     {}},
    {"CaseTakesANamedConstantInWideCells", {"CONSTANT big 1000", ": t CASE big OF ENDOF ENDCASE ;"},
     cat({{"big:"}, push16(1000),
          {"\tret", "t:", "\tld\tFtmp2,Y+\t; CASE", "\tld\tFtmp2H,Y+", "\tldi\tFtmp1,232", "\tldi\tFtmp1H,3",
           "\tcp\tFtmp1,Ftmp2\t; OF", "\tcpc\tFtmp1H,Ftmp2H", "\tbrne\t_L1", "\trjmp\t_LC1\t\t; ENDOF", "_L1:",
           "_LC1:\t\t\t\t; ENDCASE", "\tret"}}),
     {}, Wide},
    {"DefaultClauseWithoutDefaultKeepsTheSelector", {": t CASE 1 OF ENDOF 0 DUP ENDCASE ;"},
     {"t:", "\tld\tFtmp2,Y+\t; CASE", "\tldi\tFtmp1,1", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L1",
      "\trjmp\t_LC1\t\t; ENDOF", "_L1:", "\tldi\tFtmp1,0", "\tst\t-Y,Ftmp2", "\tst\t-Y,Ftmp1", "\trcall\tDUP",
      "\tadiw\tYL,1", "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {}},
    {"DefaultClauseInWideCells", {": t CASE DUP ENDCASE ;"},
     {"t:", "\tld\tFtmp2,Y+\t; CASE", "\tld\tFtmp2H,Y+", "\tst\t-Y,Ftmp2H", "\tst\t-Y,Ftmp2", "\trcall\tDUP",
      "\tadiw\tYL,2", "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {}, Wide},
    {"DoubleLiteralsHighCellFirstInByteCells", {": t 1000. -1. ;", "HEX", ": u 10. ;"},
     cat({{"t:"}, push("3"), push("232"), push("255"), push("255"), {"\tret", "u:"}, push("0x0000"), push("0x0010"),
          {"\tret"}}),
     {}},
    {"DoubleLiteralsLowCellFirstInWideCells", {": t 100000. 4294967295. -2147483648. ;"},
     cat({{"t:"}, push16(0x86A0), push16(1), push16(0xFFFF), push16(0xFFFF), push16(0), push16(0x8000), {"\tret"}}),
     {}, Wide},
};
INSTANTIATE_TEST_SUITE_P(Language, CompileCase, ::testing::ValuesIn(Language),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the classic compiler finds a word, the new words stay out of the
// way; where they cannot be used, the classic messages stand.
const Case LanguageFallbacks[] = {
    {"ProgramWordsOfTheSameNameWin", {": exit 7 ;", ": to 1 ;", ": t exit to ;"},
     cat({{"exit:"}, Push7, {"\tret", "to:"}, push("1"), {"\tret", "t:", "\trcall\texit", "\trjmp\tto"}}), {}},
    {"NumberNothingTakesIsReportedAtItsLine", {"55", "VARIABLE x", "1 2 C,"},
     cat({{"x:"}, push("0"), push("129"), {"\tret"}, initData(130, 1, false, {"\t.db\t2,0"})}),
     {"Not defined 55 ,Line 1", "Not defined 1 ,Line 3"}},
    {"HeldNumberBeforeAColonIsReportedFirst", {"5 : t frob ;"}, {"t:", "\tret"},
     {"Not defined 5 ,Line 1", "Not defined frob ,Line 1"}},
    {"HeldNumberAtTheEndAndBeforeADollarLine", {"33", "$ nop", "44"}, {" nop"},
     {"Not defined 33 ,Line 1", "Not defined 44 ,Line 3"}},
    {"WordsWithoutWhatMustFollowThem", {": t LEAVE TO x IS ['] frob ;", "VALUE v", "C,"}, {"t:", "\tret"},
     {"Not defined LEAVE ,Line 1", "Not defined TO ,Line 1", "Not defined x ,Line 1", "Not defined IS ,Line 1",
      "Not defined ['] ,Line 1", "Not defined frob ,Line 1", "Not defined VALUE ,Line 2", "Not defined v ,Line 2",
      "Not defined C, ,Line 3"}},
    {"NameAfterToMayNotBeTheSemicolon", {": t TO ;", ": u ;"}, {"t:", "\tret", "u:", "\tret"},
     {"Not defined TO ,Line 1"}},
    {"DefaultClauseNeedsAKnownWordAndOneNumberAtMost", {": t CASE frob ENDCASE ;", ": u CASE 1 2 DUP ENDCASE ;"},
     {"t:", "\tld\tFtmp2,Y+\t; CASE", "_LC1:\t\t\t\t; ENDCASE", "\tret", "u:", "\tld\tFtmp2,Y+\t; CASE",
      "\tldi\tFtmp1,1", "\tldi\tFtmp1,2", "_LC2:\t\t\t\t; ENDCASE", "\tret"},
     {"frob as Case Parameter ,Line 1", "DUP as Case Parameter ,Line 2"}},
    {"CaseStillReportsOtherNames", {"$two:", ": t CASE two OF ENDOF ENDCASE ;"},
     {"two:", "t:", "\tld\tFtmp2,Y+\t; CASE", "\tcp\tFtmp1,Ftmp2\t; OF", "\tbrne\t_L1", "\trjmp\t_LC1\t\t; ENDOF", "_L1:",
      "_LC1:\t\t\t\t; ENDCASE", "\tret"},
     {"two as Case Parameter ,Line 2"}},
};
INSTANTIATE_TEST_SUITE_P(LanguageFallbacks, CompileCase, ::testing::ValuesIn(LanguageFallbacks),
                         [](const auto& info) { return std::string(info.param.name); });

// The listing says before the header's include that it has initialised data.
TEST(Language, InitialisedDataIsAListingFact)
{
    const Result r = Compile({"7 VALUE v"}, {.header = true});
    ASSERT_GE(r.listing.size(), 4u);
    EXPECT_EQ(r.listing[2], ".equ\t_RHAS_INITDATA\t= 1");
    EXPECT_EQ(r.listing[3], ".include \"4thHead.asm\"");
    EXPECT_EQ(Compile({"VARIABLE v"}, {.header = true}).listing[2], ".include \"4thHead.asm\"");
}

TEST(Control, DeepNestingHasNoLimit)
{
    constexpr int Depth = 500;
    std::string body = ": deep";
    for (int i = 0; i < Depth; ++i)
        body += " BEGIN IF";
    for (int i = 0; i < Depth; ++i)
        body += " THEN AGAIN";
    body += " ;";
    const Result r = Compile({body});
    ASSERT_EQ(r.messages.size(), 2u);
    // The outermost structures close last, with the first label numbers.
    ASSERT_GE(r.program.size(), 3u);
    EXPECT_EQ(r.program[r.program.size() - 3], "_L2:\t\t\t\t; THEN");
    EXPECT_EQ(r.program[r.program.size() - 2], "\trjmp\t_L1\t\t; AGAIN");
}

TEST(Output, FullListingWithHeaderBannerLibraryAndProgram)
{
    const Result r = Compile({": twice 1+ 1+ ;"}, {.header = true});
    const Lines expected{
        "; Mirtolan compiler Apr. 2001", ";", ".include \"4thHead.asm\"", ";",
        ";*******************************", ";*** Retrieved from Archive ****", ";*******************************",
        "Onepls:", "\tld\tFtmp1,Y", "\tinc\tFtmp1", "\tst\tY,Ftmp1", "\tret",
        "_TestIfZero:", "\tld\tFtmp1,Y+", "\ttst\tFtmp1", "\tret",
        "twice:", "\trcall\tOnepls", "\trjmp\tOnepls"};
    EXPECT_EQ(r.listing, expected);
    EXPECT_EQ(r.messages, (Lines{"Compile Completed", "Variable end: $0080"}));
}

TEST(Output, WithoutHeaderTheBannerComesFirst)
{
    const Result r = Compile({});
    ASSERT_EQ(r.listing.size(), 7u);
    EXPECT_EQ(r.listing[0], ";*******************************");
    EXPECT_EQ(r.listing[3], "_TestIfZero:");
}

TEST(Output, VariableEndLine)
{
    const struct {
        std::string varStart;
        Lines source;
        std::string line;
    } cases[] = {
        {"81", {}, "Variable end: $0080"},
        {"1A0", {}, "Variable end: $019F"},
        {"a0", {"VARIABLE x"}, "Variable end: $00A0"},
        {"0", {}, "Variable end: $FFFFFFFF"},
        {"FFFF0", {"ALLOT 100"}, "Variable end: $100053"},
        {"7FFFFFFF", {"ALLOT 2147483647"}, "Variable end: $FFFFFFFD"}, // wraps as 32-bit arithmetic
        {"81", {"ALLOT -2"}, "Variable end: $007E"},
    };
    for (const auto& tc : cases) {
        const Result r = Compile(tc.source, {.varStart = tc.varStart});
        ASSERT_EQ(r.error, "") << tc.varStart;
        EXPECT_EQ(r.messages.back(), tc.line) << tc.varStart;
    }
}

TEST(Output, BadVarStartAbandonsTheCompile)
{
    for (const std::string bad : {"", "zz", "$81", "8 1", "0x81", "100000000"}) {
        const Result r = Compile({": a 7 ;", "frob"}, {.header = true, .varStart = bad});
        EXPECT_NE(r.error.find("'$" + bad + "'"), std::string::npos) << r.error;
        EXPECT_TRUE(r.messages.empty()) << bad;
        EXPECT_EQ(r.listing.size(), 4u) << bad; // only the header
    }
}

TEST(Archive, MissingRoutinesAbandonTheCompileNamingThem)
{
    const struct {
        Lines archive;
        Lines source;
        std::string named;
    } cases[] = {
        {{"$$ DO", "\tnop", "$"}, {}, "_TestIfZero"},
        {{}, {": a 7 ;"}, "_TestIfZero"},
        {{"$$ _TestIfZero", "\ttst"}, {}, "_TestIfZero"}, // the last entry is never closed
        {{"$$ _TestIfZero", "\ttst", "$"}, {": a DO ;"}, "DO"},
        {{"$$ _TestIfZero", "\ttst", "$$ DO", "$"}, {": a DO LOOP ;"}, "LOOP"},
        {{"$$ _TestIfZero", "\ttst", "$$ DO", "$"}, {": a DO +LOOP ;"}, "+LOOP"},
    };
    for (const auto& tc : cases) {
        const Result r = Compile(tc.source, {}, tc.archive);
        EXPECT_NE(r.error.find(tc.named), std::string::npos) << r.error;
        EXPECT_TRUE(r.messages.empty() || r.messages.back() != "Compile Completed");
    }
}

TEST(Archive, EntryShapes)
{
    const Lines archive{
        "$$ _TestIfZero", "\ttst", "$$ EMPTY", "$$ twice", "\tfirst", "$$ TWICE", "\tsecond", "$", "\tstray line",
        "$$ inner", " $ not an end", "\t$ nor this", "", "$",
    };
    const Result r = Compile({": a empty twice inner ;"}, {}, archive);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.library, (Lines{"EMPTY:", "\tret", "twice:", "\tfirst", "\tret", "inner:", " $ not an end",
                                "\t$ nor this", "", "\tret"}));
    EXPECT_EQ(r.program, (Lines{"a:", "\trcall\tEMPTY", "\trcall\ttwice", "\trjmp\tinner"}));
}

TEST(Archive, CallingTestIfZeroByNameCopiesItOnce)
{
    const Result r = Compile({": a _testifzero ;"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(std::count(r.listing.begin(), r.listing.end(), "_TestIfZero:"), 1);
}

TEST(Archive, HeaderWithTrailingBlankIsNeverFound)
{
    const Result r = Compile({": a dup ;"}, {}, {"$$ DUP ", "\tnop", "$$ _TestIfZero", "\ttst", "$"});
    EXPECT_EQ(r.messages.front(), "Not defined dup ,Line 1");
}

TEST(Driver, StateAcrossCompilesOfOneCompiler)
{
    Compiler c;
    c.archive.assign(TestArchive(), "test.arch");
    c.IncludeHeader = false;
    c.WriteListing = false;
    c.SourceFileName = "a.4th";
    CompileClick(c, {"USEZCALL", ": a dup ;"});
    EXPECT_TRUE(c.UseZcall);
    const Lines first = c.Listing;
    // The next compile keeps the call style, starts from empty outputs and copies the archive word again.
    CompileClick(c, {": a dup ;"});
    EXPECT_TRUE(c.UseZcall);
    EXPECT_EQ(c.Listing, first);
    EXPECT_EQ(c.Messages, (Lines{"Compile Completed", "Variable end: $0080"}));
    CompileClick(c, {"usercall"});
    EXPECT_FALSE(c.UseZcall);
}

TEST(Driver, CallStyleSwitchesTakeEffectAtOnce)
{
    const Result r = Compile({": a ;", ": b a ;", "USEZCALL", ": c a ;", "USERCALL", ": d a ;"});
    EXPECT_EQ(r.program, (Lines{"a:", "\tret", "b:", "\trjmp\ta", "c:", "\tZjmp\ta", "d:", "\trjmp\ta"}));
    EXPECT_FALSE(r.useZcall);
}

TEST(Driver, ProcessEventsRunsOnceWithEmptiedOutputs)
{
    Compiler c;
    c.archive.assign(TestArchive(), "test.arch");
    c.WriteListing = false;
    c.Messages = {"old"};
    c.Listing = {"old"};
    int runs = 0;
    c.ProcessEvents = [&] {
        ++runs;
        EXPECT_TRUE(c.Messages.empty());
        EXPECT_TRUE(c.Listing.empty());
    };
    CompileClick(c, {": a ;"});
    EXPECT_EQ(runs, 1);
}

} // namespace
