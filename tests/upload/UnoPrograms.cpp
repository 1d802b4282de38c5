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

// The watchdog is switched off first: the bootloader starts a program with
// it running. The UART registers lie above the I/O space: lds and sts.
const char* const HelloProgram = R"(HEX
: uart-status 0 C0 ;
: uart-data 0 C6 ;
DECIMAL
: wdt-off
$ wdr
$ ldi r16,0
$ out MCUSR,r16
$ lds r16,WDTCSR
$ ori r16,(1<<WDCE)|(1<<WDE)
$ sts WDTCSR,r16
$ ldi r16,0
$ sts WDTCSR,r16
;
: uart-init
$ ldi r16,(1<<U2X0)
$ sts UCSR0A,r16
$ ldi r16,0
$ sts UBRR0H,r16
$ ldi r16,16
$ sts UBRR0L,r16
$ ldi r16,(1<<RXEN0)|(1<<TXEN0)
$ sts UCSR0B,r16
;
: emit BEGIN uart-status C@ 32 AND UNTIL uart-data C! ;
: key BEGIN uart-status C@ 128 AND UNTIL uart-data C@ ;
: greet 'H emit 'e emit 'l emit 'l emit 'o emit 32 emit 'f emit 'r emit 'o emit 'm emit
  32 emit 't emit 'h emit 'e emit 32 emit 'U emit 'n emit 'o emit 13 emit 10 emit ;
: main wdt-off uart-init greet 1 emit 255 emit 13 emit 10 emit BEGIN key emit AGAIN ;
)";

std::string TinyHex(const std::string& dir)
{
    const std::string path = dir + "/tiny.hex";
    std::ofstream(path) << ":100000000C9434000C943E000C943E000C943E0082\n:00000001FF\n";
    return path;
}

std::string FreshDir(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("mirtolan-upload-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
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
