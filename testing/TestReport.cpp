// A test run as TAP version 14 and as JUnit XML.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "Testing.h"

namespace mirtolan {

namespace {

// The indent of a TAP test's YAML block.
constexpr const char* YamlIndent = "  ";
// The testcase that stands for a build that failed, in JUnit.
constexpr const char* BuildCaseName = "(build)";

bool validUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (!n || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += n;
    }
    return true;
}

// Text is bytes inside; both formats want UTF-8, so a text that is not
// UTF-8 is read as Latin-1, byte for character.
std::string utf8(std::string_view s)
{
    if (validUtf8(s))
        return std::string(s);
    std::string out;
    for (const char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string hexByte(unsigned char b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", b);
    return buf;
}

// A YAML double-quoted scalar.
std::string yamlString(std::string_view s)
{
    std::string out = "\"";
    for (const char ch : utf8(s)) {
        const auto b = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\')
            out += {'\\', ch};
        else if (b < 0x20 || b == 0x7F)
            out += hexByte(b);
        else
            out += ch;
    }
    return out + "\"";
}

// A TAP description: "#" would start a directive.
std::string tapDescription(std::string_view s)
{
    std::string out;
    for (const char ch : utf8(s)) {
        if (ch == '#' || ch == '\\')
            out += '\\';
        out += ch;
    }
    return out;
}

// The characters XML text and attributes must spell as entities.
struct Entity {
    char ch;          // the character
    const char* text; // its entity
};
constexpr Entity XmlEntities[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}};

std::string xmlText(std::string_view s)
{
    std::string out;
    for (const char ch : utf8(s)) {
        const auto b = static_cast<unsigned char>(ch);
        const auto e = std::find_if(std::begin(XmlEntities), std::end(XmlEntities),
                                    [ch](const Entity& x) { return x.ch == ch; });
        if (e != std::end(XmlEntities))
            out += e->text;
        else if ((b < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') || b == 0x7F)
            out += hexByte(b); // XML has no way to carry other control characters
        else
            out += ch;
    }
    return out;
}

std::string seconds(double s)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9f", s);
    std::string out = buf;
    while (out.size() > 1 && out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out;
}

std::string place(const std::string& file, std::int64_t line)
{
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

// The lines of a test's YAML block, without indent or the --- and ... around them.
std::vector<std::string> yamlDetails(const TestOutcome& t)
{
    std::vector<std::string> y;
    y.push_back("message: " + yamlString(t.message));
    y.push_back("severity: " + std::string(t.verdict == Verdict::Stopped ? "comment" : "fail"));
    y.push_back("verdict: " + yamlString(VerdictName(t.verdict)));
    y.push_back("test: " + yamlString(t.name));
    y.push_back("file: " + yamlString(t.failFile.empty() ? t.file : t.failFile));
    if (t.failLine > 0 || t.failFile.empty())
        y.push_back("line: " + std::to_string(t.failLine > 0 ? t.failLine : t.line));
    if (!t.checks.empty() && t.checks.front().compared) {
        y.push_back("expected: " + FormatCells(t.checks.front().expected));
        y.push_back("actual: " + FormatCells(t.checks.front().actual));
    }
    if (!t.fault.empty()) {
        y.push_back("fault: " + yamlString(t.fault));
        y.push_back("word: " + yamlString(t.faultWord));
    }
    if (!t.callers.empty()) {
        y.push_back("called from:");
        for (const std::string& c : t.callers)
            y.push_back("  - " + yamlString(c));
    }
    if (t.checks.size() > 1) {
        y.push_back("more:");
        for (std::size_t i = 1; i < t.checks.size(); ++i) {
            const TestCheck& c = t.checks[i];
            y.push_back("  - message: " + yamlString(c.text));
            y.push_back("    file: " + yamlString(c.file));
            y.push_back("    line: " + std::to_string(c.line));
            if (c.compared) {
                y.push_back("    expected: " + FormatCells(c.expected));
                y.push_back("    actual: " + FormatCells(c.actual));
            }
        }
    }
    y.push_back("cycles: " + std::to_string(t.cycles));
    return y;
}

} // namespace

std::string FailureDetails(const TestOutcome& t)
{
    std::string out;
    for (const TestCheck& c : t.checks) {
        out += place(c.file, c.line) + ": " + c.text + "\n";
        if (c.compared)
            out += "  expected: " + FormatCells(c.expected) + "\n  actual:   " + FormatCells(c.actual) + "\n";
    }
    if (t.verdict != Verdict::Failed)
        out += place(t.failFile.empty() ? t.file : t.failFile, t.failLine) + ": " + t.message + "\n";
    for (const std::string& c : t.callers)
        out += "  called from " + c + "\n";
    return out;
}

namespace {

std::string counts(std::size_t tests, std::size_t failures, std::size_t errors, std::size_t skipped, double time)
{
    return " tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"" +
           std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + seconds(time) + "\"";
}

} // namespace

std::string FormatCells(const std::vector<std::int64_t>& cells)
{
    std::string out = "[";
    for (std::size_t i = 0; i < cells.size(); ++i)
        out += (i ? ", " : "") + std::to_string(cells[i]);
    return out + "]";
}

std::string TapPlan(std::size_t count)
{
    std::string out = "TAP version 14\n1.." + std::to_string(count);
    if (!count)
        out += " # SKIP no test words (colon definitions whose names begin with " + std::string(TestWordPrefix) + ")";
    return out + "\n";
}

std::string TapResult(const TestOutcome& t, std::size_t number)
{
    std::string out = std::string(t.passed() ? "ok " : "not ok ") + std::to_string(number) + " - " + tapDescription(t.name);
    if (t.verdict == Verdict::Stopped)
        out += " # SKIP " + tapDescription(t.message);
    out += "\n";
    if (t.passed())
        return out;
    out += std::string(YamlIndent) + "---\n";
    for (const std::string& line : yamlDetails(t))
        out += YamlIndent + line + "\n";
    return out + YamlIndent + "...\n";
}

std::string FormatTap(const TestRun& run)
{
    if (run.status == TestRun::BuildFailed) {
        // The first error at a line says most; one about the whole program (line 0) follows from it.
        const auto& ds = run.diagnostics;
        auto first = std::find_if(ds.begin(), ds.end(),
                                  [](const Diagnostic& d) { return d.severity == Severity::Error && d.line > 0; });
        if (first == ds.end())
            first = ds.begin();
        return "TAP version 14\nBail out! The sources do not build" +
               (first == ds.end() ? std::string(".") : ": " + utf8(first->format())) + "\n";
    }
    if (run.status == TestRun::Abandoned)
        return "TAP version 14\nBail out! " + utf8(run.error) + "\n";
    std::string out = TapPlan(run.tests.size());
    for (std::size_t i = 0; i < run.tests.size(); ++i)
        out += TapResult(run.tests[i], i + 1);
    return out;
}

std::string FormatJUnit(const TestRun& run)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::string properties = "    <properties>\n";
    const std::pair<const char*, std::string> facts[] = {
        {"device", run.device}, {"cells", std::to_string(run.cellBits)},
        {"clock", std::to_string(run.clockHz)}, {"limit", run.limit}};
    for (const auto& [name, value] : facts)
        properties += "      <property name=\"" + std::string(name) + "\" value=\"" + xmlText(value) + "\"/>\n";
    properties += "    </properties>\n";

    if (run.status != TestRun::Ran) {
        // The build stands as one testcase in error, so that a CI that reads
        // only this file sees the failure, and no older report stands in for it.
        std::string body = run.error;
        for (const Diagnostic& d : run.diagnostics)
            body += d.format() + "\n";
        const std::string c = counts(1, 0, 1, 0, 0);
        out += "<testsuites name=\"mirtolan tests\"" + c + ">\n  <testsuite name=\"build\"" + c + ">\n" + properties +
               "    <testcase name=\"" + BuildCaseName + "\" classname=\"build\" time=\"0\">\n" +
               "      <error type=\"build\" message=\"" +
               xmlText(run.status == TestRun::BuildFailed ? "the sources do not build" : run.error) + "\">" +
               xmlText(body) + "</error>\n    </testcase>\n  </testsuite>\n</testsuites>\n";
        return out;
    }

    // A testsuite per file, in the order of their first tests.
    std::vector<std::string> files;
    std::map<std::string, std::vector<const TestOutcome*>> byFile;
    for (const TestOutcome& t : run.tests) {
        auto& list = byFile[t.file];
        if (list.empty())
            files.push_back(t.file);
        list.push_back(&t);
    }
    std::string suites;
    std::size_t failures = 0, errors = 0, skipped = 0;
    double total = 0;
    for (const std::string& file : files) {
        std::size_t f = 0, e = 0, s = 0;
        double time = 0;
        std::string cases;
        const std::string classname = xmlText(std::filesystem::path(file).stem().string());
        for (const TestOutcome* t : byFile[file]) {
            time += t->seconds;
            cases += "    <testcase name=\"" + xmlText(t->name) + "\" classname=\"" + classname + "\" file=\"" +
                     xmlText(t->file) + "\" line=\"" + std::to_string(t->line) + "\" time=\"" + seconds(t->seconds) + "\"";
            if (t->passed()) {
                cases += "/>\n";
                continue;
            }
            const char* element = "failure";
            if (t->verdict == Verdict::Error) {
                element = "error";
                ++e;
            } else if (t->verdict == Verdict::Stopped) {
                element = "skipped";
                ++s;
            } else {
                ++f;
            }
            cases += ">\n      <" + std::string(element) + " type=\"" + xmlText(VerdictName(t->verdict)) +
                     "\" message=\"" + xmlText(t->message) + "\">" + xmlText(FailureDetails(*t)) + "</" + element +
                     ">\n    </testcase>\n";
        }
        suites += "  <testsuite name=\"" + xmlText(file) + "\"" + counts(byFile[file].size(), f, e, s, time) + ">\n" +
                  properties + cases + "  </testsuite>\n";
        failures += f;
        errors += e;
        skipped += s;
        total += time;
    }
    if (files.empty()) // no test words: an empty suite still says what ran
        suites = "  <testsuite name=\"no test words\"" + counts(0, 0, 0, 0, 0) + ">\n" + properties + "  </testsuite>\n";
    return out + "<testsuites name=\"mirtolan tests\"" + counts(run.tests.size(), failures, errors, skipped, total) +
           ">\n" + suites + "</testsuites>\n";
}

} // namespace mirtolan
