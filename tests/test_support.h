// Runs whole compiles in memory for the tests: source lines and options in,
// listing sections and messages out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Compiler.h"
#include "TempDir.h"

namespace mirtolan::test {

using Lines = std::vector<std::string>;

struct Options {
    bool zcall = false;
    bool header = false;
    std::string varStart = "81";
    // The listing is written to a file, as the command-line tool writes it,
    // and read back from that file.
    bool write = false;
    bool optimise = false; // compiled with the optimiser (--opt)
    int cells = 8; // bits of a cell: 8, or 16 (the test archive serves both)
};

struct Result {
    Lines listing;  // the whole listing
    Lines library;  // the routines copied before _TestIfZero
    Lines program;  // the program section, after the _TestIfZero routine
    Lines messages; // every message, the two summary lines included
    std::string error; // the CompileError text when the compile was abandoned
    bool useZcall = false;
    std::int32_t varNext = 0;
};

// An archive with a two-line _TestIfZero, DO, LOOP, +LOOP, DUP, DROP, 1+, TYPEP,
// _QDo and UNLOOP.
const Lines& TestArchive();

Result Compile(const Lines& source, const Options& options = {}, const Lines& archive = TestArchive());

std::string ReadFile(const std::string& path);

// Deterministic noise: the same bytes on every run, so a failure reproduces.
std::string Noise(std::size_t size, std::uint32_t seed);
void WriteFile(const std::string& path, const std::string& bytes);

} // namespace mirtolan::test
