// The command-line front end: parses the arguments, runs one compile and
// reports as the window would, for make files and scripts.
#pragma once

#include <atomic>
#include <functional>
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
// up relative to it. `catchStop`, when given, is called as a build, run or
// upload begins (a child process and a scratch folder may then need
// cleaning up); it returns a flag that, once set, stops the work at the
// next chance, and the tool returns as soon as it is cleaned up.
int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::istream& in, std::ostream& out,
           std::ostream& err, const std::function<const std::atomic<bool>*()>& catchStop = {});

} // namespace mirtolan
