// The command-line front end: parses the arguments, runs one compile and
// reports as the window would, for make files and scripts.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mirtolan {

// Exit statuses of the command-line tool.
enum CliStatus : int {
    CliClean = 0,     // compiled; the source raised no message
    CliMessages = 1,  // compiled; the source raised messages
    CliAbandoned = 2, // nothing compiled or written: bad arguments or a failed environment
};

// `exeDir` is where the running program lies; the shipped archive is looked
// up relative to it.
int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::istream& in, std::ostream& out,
           std::ostream& err);

} // namespace mirtolan
