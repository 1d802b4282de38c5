#include "UnoPrograms.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace uploadtest {

const char* const ResultProgram = R"(VARIABLE result
VARIABLE sum
: main 42 result C! 7 5 + sum C! ;
)";

// The run-time's serial words, on UART0 as the header sets it up.
const char* const HelloProgram = R"(: greet 'H EMIT 'e EMIT 'l EMIT 'l EMIT 'o EMIT SPACE 'f EMIT 'r EMIT 'o EMIT 'm EMIT
  SPACE 't EMIT 'h EMIT 'e EMIT SPACE 'U EMIT 'n EMIT 'o EMIT CR ;
: main greet 1 EMIT 255 EMIT CR BEGIN KEY EMIT AGAIN ;
)";

std::string TinyHex(const std::string& dir)
{
    const std::string path = dir + "/tiny.hex";
    std::ofstream(path) << ":100000000C9434000C943E000C943E000C943E0082\n:00000001FF\n";
    return path;
}

std::string BuildUnoHex(const std::string& dir, const std::string& name, const std::string& source,
                        std::string& error)
{
    const std::string base = dir + "/" + name;
    std::ofstream(base + ".4th") << source;
    const std::string compile = std::string("cd '") + dir + "' && '" + MIRTOLANC_PATH
        + "' --hex --device atmega328p '" + name + ".4th' > build.log 2>&1";
    if (std::system(compile.c_str()) != 0 || !std::filesystem::exists(base + ".hex")) {
        error = "building " + base + ".4th failed (see build.log in " + dir + ")";
        return {};
    }
    return base + ".hex";
}

} // namespace uploadtest
