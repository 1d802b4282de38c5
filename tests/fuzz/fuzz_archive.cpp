// The archive reader fed arbitrary bytes, then a compile that asks it for
// the run-time words, a few ordinary words and a name that is not there.
#include "fuzz_support.h"

using namespace mirtolan;

namespace {
const std::vector<std::string> Source{
    ": a DUP DROP 1+ swap ;",
    ": b a IF a ELSE nosuch THEN BEGIN a WHILE a REPEAT ;",
    ": c 10 0 DO a LOOP 5 0 DO b 2 +LOOP CASE 1 OF a ENDOF ENDCASE ;",
    ": d _TestIfZero dup ;",
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Compiler c;
    c.archive.assign(fuzz::Lines(data, size), "fuzz.arch");
    c.SourceFileName = "fuzz.4th";
    c.WriteListing = false;
    try {
        CompileClick(c, Source);
        fuzz::Expect(c.Messages.size() >= 2 && c.Messages[c.Messages.size() - 2] == "Compile Completed",
                     "a completed compile ends with its summary");
    } catch (const CompileError& e) {
        // An archive without the run-time words, or with an entry left open,
        // abandons the compile; it must say why.
        fuzz::Expect(*e.what() != '\0', "an abandoned compile gives a reason");
        for (const auto& m : c.Messages)
            fuzz::Expect(m != "Compile Completed", "an abandoned compile is not reported as completed");
    }
    return 0;
}
