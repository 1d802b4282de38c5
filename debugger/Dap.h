// The Debug Adapter Protocol on two streams: requests as JSON messages
// framed by a Content-Length header come in, responses and events go out.
// `mirtolanc --dap` serves it on standard input and output, so that any
// editor with a DAP client debugs Forth on the simulated chip.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mirtolan {

struct DapSetup {
    std::vector<std::string> runtimeDirs; // where the run-time lies (share/mirtolan)
    std::string archive;                  // the word archive of the 8-bit cells
    bool optimise = false;                // launches optimise unless their "opt" says otherwise (mirtolanc --dap --opt)
};

// Serves requests from `in` until a disconnect or the end of `in`;
// returns the exit status of the tool (0).
int ServeDap(std::istream& in, std::ostream& out, const DapSetup& setup);

} // namespace mirtolan
