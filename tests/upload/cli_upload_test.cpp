// mirtolanc --upload on the simulated Uno, and its exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "SimulatedUno.h"
#include "UnoPrograms.h"

using namespace uploadtest;
using namespace std::chrono_literals;

namespace {

struct ToolRun {
    int status = -1;     // the tool's exit status
    std::string output;  // its standard output and error
};

// Runs mirtolanc in `dir` with `args` (shell words), under `env` settings.
ToolRun Mirtolanc(const std::string& dir, const std::string& args, const std::string& env = "")
{
    const std::string log = dir + "/tool.log";
    const std::string cmd = "cd '" + dir + "' && " + env + " '" + MIRTOLANC_PATH + "' " + args + " > '" + log
        + "' 2>&1";
    ToolRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    r.output = text.str();
    return r;
}

bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(CliUpload, UploadsToTheSimulatedUno)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    std::string error;
    auto uno = SimulatedUno::Start(dir + "/uno", error);
    ASSERT_TRUE(uno) << error;
    std::ofstream(dir + "/result.4th") << ResultProgram;
    const std::vector<std::uint8_t> zero(ResultBytes.size(), 0);
    uno->writeData(ResultAddress, zero);

    const ToolRun r = Mirtolanc(dir, "--upload --device atmega328p --port '" + uno->port() + "' result.4th");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "wrote result.hex")) << r.output;
    EXPECT_TRUE(Has(r.output, "-c arduino -p m328p -P " + uno->port() + " -b 115200")) << r.output;
    EXPECT_TRUE(Has(r.output, "Writing 50%")) << r.output;
    EXPECT_TRUE(Has(r.output, "Verifying 100%")) << r.output;
    EXPECT_TRUE(Has(r.output, "mirtolanc: uploaded to " + uno->port() + " and verified")) << r.output;

    const auto image = HexImage(dir + "/result.hex");
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(uno->readFlash(0, image.size()), image);
    bool ran = false;
    for (int i = 0; i < 100 && !ran; ++i, std::this_thread::sleep_for(20ms))
        ran = uno->readData(ResultAddress, ResultBytes.size()) == ResultBytes;
    EXPECT_TRUE(ran);
}

TEST(CliUpload, ExitStatusesAndMessages)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    std::ofstream(dir + "/result.4th") << ResultProgram;
    std::ofstream(dir + "/bad.4th") << ": main frobnicate ;\n";
    // avra alone on PATH: the build works, avrdude is not there.
    std::filesystem::create_directories(dir + "/bin");
    std::filesystem::create_symlink("/usr/bin/avra", dir + "/bin/avra");

    struct Case {
        const char* name;     // the situation
        std::string args;     // after mirtolanc
        std::string env;      // shell assignments before it
        int status;           // expected exit status
        std::string message;  // a piece of the expected output
    };
    const Case cases[] = {
        {"no such port", "--upload --device atmega328p --port " + dir + "/ttyACM0 result.4th", "", 1,
         "mirtolanc: error: upload failed: no serial port for the board"},
        {"avrdude missing", "--upload --device atmega328p --port " + dir + "/ttyACM0 result.4th",
         "PATH='" + dir + "/bin'", 1, "sudo apt install avrdude"},
        {"build fails", "--upload --device atmega328p --port " + dir + "/ttyACM0 bad.4th", "", 2, "bad.4th:1:"},
        {"port without upload", "--port /dev/ttyACM0 result.4th", "", 2, "go with --upload"},
        {"bad baud", "--upload --baud fast result.4th", "", 2, "--baud needs a speed"},
        {"zero baud", "--upload --baud 0 result.4th", "", 2, "--baud needs a speed"},
        // avrdude answers these with its configuration or a list, and exits 0.
        {"programmer with a slash", "--upload --device atmega328p --programmer arduino/s --port " + dir +
         "/ttyACM0 result.4th", "", 1, "'arduino/s' is no programmer id"},
        {"programmer list", "--upload --device atmega328p --programmer '?' --port " + dir + "/ttyACM0 result.4th",
         "", 1, "'?' is no programmer id"},
    };
    for (const Case& c : cases) {
        const ToolRun r = Mirtolanc(dir, c.args, c.env);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, c.message)) << c.name << "\n" << r.output;
        EXPECT_FALSE(Has(r.output, "verified")) << c.name << "\n" << r.output;
    }
}

} // namespace
