// The upload module: its reading of avrdude's output, and whole uploads by
// the real avrdude to the simulated Uno.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SimulatedUno.h"
#include "UnoPrograms.h"
#include "Upload.h"

using namespace mirtolan;
using namespace uploadtest;
using namespace std::chrono_literals;

namespace {

// What avrdude 7 writes on a good upload through a pipe: the bars grow one
// '#' at a time.
const std::string GoodLog =
    "\navrdude: AVR device initialized and ready to accept instructions\n"
    "avrdude: device signature = 0x1e950f (probably m328p)\n"
    "avrdude: writing 68 bytes flash ...\n\n"
    "Writing | ################################################## | 100% 0.04s\n\n"
    "avrdude: 68 bytes of flash written\n"
    "avrdude: verifying flash memory against prog.hex\n\n"
    "Reading | ################################################## | 100% 0.03s\n\n"
    "avrdude: 68 bytes of flash verified\n\navrdude done.  Thank you.\n";

struct ClassifyCase {
    const char* name;       // the situation
    std::string log;        // what avrdude wrote
    int exitStatus;         // how it exited
    UploadOutcome expected; // the outcome it means
    const char* detail;     // a piece of the line that must be quoted
};

TEST(Classify, AvrdudeOutputMeansItsOutcome)
{
    const ClassifyCase cases[] = {
        {"uploaded", GoodLog, 0, UploadOutcome::Uploaded, ""},
        {"port missing",
         "avrdude OS error: cannot open port /dev/ttyACM9: No such file or directory\n"
         "avrdude error: unable to open programmer arduino on port /dev/ttyACM9\n",
         1, UploadOutcome::NoPort, "/dev/ttyACM9: No such"},
        {"port missing, avrdude 6",
         "avrdude: ser_open(): can't open device \"/dev/ttyUSB0\": No such file or directory\n", 1,
         UploadOutcome::NoPort, "can't open device"},
        {"not in dialout",
         "avrdude OS error: cannot open port /dev/ttyACM0: Permission denied\n"
         "avrdude error: unable to open programmer arduino on port /dev/ttyACM0\n",
         1, UploadOutcome::PortPermission, "Permission denied"},
        {"bootloader silent",
         "avrdude OS error: ioctl(\"TIOCMGET\"): Inappropriate ioctl for device\n"
         "avrdude error: programmer is not responding\n"
         "avrdude warning: attempt 1 of 10: not in sync: resp=0x00\n",
         1, UploadOutcome::NoAnswer, "programmer is not responding"},
        {"usbasp unplugged",
         "avrdude error: cannot find USB device with vid=0x16c0 pid=0x5dc vendor='www.fischl.de' product='USBasp'\n"
         "avrdude error: unable to open programmer usbasp on port usb\n",
         1, UploadOutcome::NoAnswer, "cannot find USB device"},
        {"avrisp2 unplugged", "avrdude error: did not find any USB device \"usb\" (0x03eb:0x2104)\n", 1,
         UploadOutcome::NoAnswer, "did not find"},
        {"stk500v2 silent", "avrdude error: stk500v2_ReceiveMessage(): timeout\n", 1, UploadOutcome::NoAnswer,
         "timeout"},
        {"chip not wired",
         "avrdude: device signature = 0x000000\navrdude error: Yikes!  Invalid device signature.\n"
         "avrdude error: expected signature for ATmega328P is 1E 95 0F\n",
         1, UploadOutcome::NoAnswer, "0x000000"},
        {"other chip",
         "avrdude: device signature = 0x1e9587 (probably m32u4)\n"
         "avrdude error: expected signature for ATmega328P is 1E 95 0F\n",
         1, UploadOutcome::WrongDevice, "expected signature for ATmega328P"},
        {"verify",
         "Writing | ################################################## | 100% 0.04s\n"
         "avrdude error: verification mismatch, first mismatch at byte 0x0042\n        0x0c != 0xff\n",
         1, UploadOutcome::VerifyFailed, "first mismatch at byte 0x0042"},
        {"unknown programmer", "avrdude error: cannot find programmer id frob\n", 1, UploadOutcome::Failed,
         "programmer id frob"},
    };
    for (const auto& c : cases) {
        std::string detail;
        EXPECT_EQ(ClassifyAvrdude(c.log, c.exitStatus, detail), c.expected) << c.name;
        EXPECT_NE(detail.find(c.detail), std::string::npos) << c.name << ": " << detail;
        EXPECT_EQ(detail.find('\n'), std::string::npos) << c.name;
    }
}

// avrdude ends well after printing its configuration ("-c ID/s") or a
// list: that is no upload. Its real answers, and an id that asks for them.
TEST(Classify, AnAnswerWithoutTheVerifyLineIsNoUpload)
{
    const TempDir tmp;
    for (const char* programmer : {"arduino/s", "*/s", "?"}) {
        const std::string log = tmp / "answer.txt";
        const std::string cmd = std::string("avrdude -c '") + programmer + "' -p m328p -P /dev/null -U flash:w:" +
                                TinyHex(tmp.path()) + ":i > '" + log + "' 2>&1";
        const int raw = std::system(cmd.c_str());
        std::ifstream in(log);
        const std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string detail;
        EXPECT_NE(ClassifyAvrdude(answer, WEXITSTATUS(raw), detail), UploadOutcome::Uploaded) << programmer;
        EXPECT_FALSE(IsProgrammerId(programmer)) << programmer;
    }
    std::string detail;
    EXPECT_EQ(ClassifyAvrdude(GoodLog, 0, detail), UploadOutcome::Uploaded);
    EXPECT_EQ(ClassifyAvrdude("avrdude done.  Thank you.\n", 0, detail), UploadOutcome::Failed);
    EXPECT_NE(detail.find("without verifying"), std::string::npos) << detail;
    for (const char* id : {"arduino", "usbasp-clone", "stk500v2", "jtag2isp", "xplainedmini_updi"})
        EXPECT_TRUE(IsProgrammerId(id)) << id;
    for (const char* id : {"", "-x", "a b", "a:b", "a/b"})
        EXPECT_FALSE(IsProgrammerId(id)) << id;
}

TEST(Classify, EveryFailureTellsCauseAndRemedy)
{
    for (auto o : {UploadOutcome::NoPort, UploadOutcome::PortPermission, UploadOutcome::NoAnswer,
                   UploadOutcome::WrongDevice, UploadOutcome::VerifyFailed, UploadOutcome::AvrdudeMissing,
                   UploadOutcome::Stopped, UploadOutcome::TimedOut, UploadOutcome::Failed}) {
        const UploadAdvice& a = AdviceFor(o);
        EXPECT_EQ(a.outcome, o);
        EXPECT_FALSE(a.cause.empty());
        EXPECT_FALSE(a.remedy.empty());
    }
    UploadResult r;
    r.outcome = UploadOutcome::PortPermission;
    r.port = "/dev/ttyACM0";
    const std::string text = r.explain();
    EXPECT_NE(text.find(DialoutCommand), std::string::npos) << text;
    EXPECT_NE(text.find("log in again"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/ttyACM0"), std::string::npos) << text;
}

// The percentages a whole log gives, fed in pieces of `piece` bytes.
std::vector<UploadProgress> Follow(const std::string& log, std::size_t piece)
{
    ProgressReader reader;
    std::vector<UploadProgress> seen;
    for (std::size_t at = 0; at < log.size(); at += piece)
        if (reader.feed(std::string_view(log).substr(at, piece)))
            seen.push_back(reader.progress());
    return seen;
}

TEST(Progress, BarsBecomeARisingPercentage)
{
    for (std::size_t piece : {std::size_t(1), std::size_t(7), GoodLog.size()}) {
        const auto seen = Follow(GoodLog, piece);
        ASSERT_FALSE(seen.empty()) << piece;
        for (std::size_t i = 1; i < seen.size(); ++i)
            EXPECT_LE(seen[i - 1].percent, seen[i].percent) << piece;
        EXPECT_EQ(seen.back().percent, 100) << piece;
        EXPECT_EQ(seen.back().phase, "Verifying") << piece;
        if (piece == 1) {
            EXPECT_EQ(seen.size(), 100u); // one step per '#'
            EXPECT_EQ(seen[24].phase, "Writing");
            EXPECT_EQ(seen[24].percent, 25);
            EXPECT_EQ(seen[74].percent, 75);
        }
    }
}

TEST(Progress, TerminalBarsRedrawnWithCarriageReturn)
{
    // On a terminal avrdude redraws the whole bar; a signature read before
    // writing is not part of the upload's share.
    const std::string log = "Reading | ################################################## | 100% 0.01s\n"
                            "\rWriting |                                                    | 0% 0.00s"
                            "\rWriting | ##########################                         | 52% 0.02s"
                            "\rWriting | ################################################## | 100% 0.04s\n";
    const auto seen = Follow(log, log.size());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].phase, "Writing");
    EXPECT_EQ(seen[0].percent, 50);
    const auto steps = Follow(log, 1);
    EXPECT_EQ(steps.front().phase, "Connecting");
    EXPECT_EQ(steps.front().percent, 0);
}

TEST(Ports, AcmBeforeUsbInNumberOrder)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    for (const char* name : {"ttyUSB0", "ttyACM10", "ttyACM2", "ttyS0", "ttyACMx", "ttyACM", "ttyUSB1"})
        std::ofstream(dir + "/" + name);
    const std::vector<std::string> expected{dir + "/ttyACM2", dir + "/ttyACM10", dir + "/ttyUSB0", dir + "/ttyUSB1"};
    EXPECT_EQ(BoardPorts(dir), expected);
    EXPECT_TRUE(BoardPorts(dir + "/none").empty());
}

TEST(Command, ProgrammersGetTheirFlags)
{
    UploadOptions o;
    o.hexFile = "p.hex";
    o.device = FindDevice("atmega328p");
    using V = std::vector<std::string>;
    EXPECT_EQ(AvrdudeCommand(o, "/dev/ttyACM0"),
              (V{"avrdude", "-c", "arduino", "-p", "m328p", "-P", "/dev/ttyACM0", "-b", "115200", "-D", "-U",
                 "flash:w:p.hex:i"}));
    o.programmer = "usbasp";
    o.device = FindDevice("atmega32");
    ASSERT_NE(o.device, nullptr);
    EXPECT_EQ(AvrdudeCommand(o, ""), (V{"avrdude", "-c", "usbasp", "-p", "m32", "-U", "flash:w:p.hex:i"}));
    o.programmer = "stk500v2";
    o.baud = 57600;
    EXPECT_EQ(AvrdudeCommand(o, "/dev/ttyUSB0"),
              (V{"avrdude", "-c", "stk500v2", "-p", "m32", "-P", "/dev/ttyUSB0", "-b", "57600", "-U",
                 "flash:w:p.hex:i"}));
}

// ---- whole uploads

class SimulatedUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tmp.path();
        std::string error;
        uno = SimulatedUno::Start(dir + "/uno", error);
        ASSERT_TRUE(uno) << error;
    }
    UploadOptions options(const std::string& hex)
    {
        UploadOptions o;
        o.hexFile = hex;
        o.port = uno->port();
        o.device = FindDevice("atmega328p");
        o.timeLimit = 30s;
        return o;
    }
    // Waits for `address` to hold `bytes`; the program runs once the
    // bootloader has left.
    bool WaitFor(std::uint16_t address, const std::vector<std::uint8_t>& bytes)
    {
        for (int i = 0; i < 100; ++i) {
            if (uno->readData(address, bytes.size()) == bytes)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    TempDir tmp;      // the test's files, the board's port link among them
    std::string dir;  // its path
    std::unique_ptr<SimulatedUno> uno;
};

TEST_F(SimulatedUpload, UploadsVerifiesAndRuns)
{
    std::string error;
    const std::string hex = BuildUnoHex(dir, "result", ResultProgram, error);
    ASSERT_FALSE(hex.empty()) << error;
    // Left from an earlier run, these would pass for this program's work.
    const std::vector<std::uint8_t> zero(ResultBytes.size(), 0);
    uno->writeData(ResultAddress, zero);

    std::vector<UploadProgress> seen;
    std::vector<std::string> lines;
    UploadOptions o = options(hex);
    o.progress = [&](const UploadProgress& p) { seen.push_back(p); };
    o.output = [&](const std::string& line) { lines.push_back(line); };
    const UploadResult r = Upload(o);
    ASSERT_TRUE(r.ok()) << r.explain() << "\n" << r.log;
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_FALSE(r.portFound);
    EXPECT_EQ(r.port, uno->port());
    EXPECT_GE(uno->portOpens(), 1);

    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1].percent, seen[i].percent);
    EXPECT_EQ(seen.back().percent, 100);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.find("bytes of flash verified") != l.npos; }),
              lines.end());

    const auto image = HexImage(hex);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(uno->readFlash(0, image.size()), image);
    EXPECT_TRUE(WaitFor(ResultAddress, ResultBytes));

    // avrdude's own read-back of the chip equals the built program.
    const std::string back = dir + "/back.hex";
    const std::string read = "timeout 30 avrdude -q -q -c arduino -p m328p -P '" + uno->port()
        + "' -b 115200 -U flash:r:'" + back + "':i > '" + dir + "/read.log' 2>&1";
    ASSERT_EQ(std::system(read.c_str()), 0);
    auto readBack = HexImage(back);
    ASSERT_GE(readBack.size(), image.size());
    readBack.resize(image.size());
    EXPECT_EQ(readBack, image);
}

// The program as built goes up, whatever became of its file meanwhile
// (another build of the same source may have replaced it).
TEST_F(SimulatedUpload, TheImageAsBuiltIsUploaded)
{
    std::string error;
    const std::string hex = BuildUnoHex(dir, "result", ResultProgram, error);
    ASSERT_FALSE(hex.empty()) << error;
    std::ifstream in(hex);
    UploadOptions o = options(hex);
    o.hexImage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::ofstream(hex) << ":00000001FF\n"; // replaced by an empty program
    std::vector<std::string> command;
    o.starting = [&](const std::vector<std::string>& c) { command = c; };
    const UploadResult r = Upload(o);
    ASSERT_TRUE(r.ok()) << r.explain() << "\n" << r.log;
    ASSERT_FALSE(command.empty());
    EXPECT_EQ(command, r.command);
    EXPECT_NE(command.back().find("/result.hex:i"), std::string::npos) << command.back();
    EXPECT_EQ(command.back().find(hex), std::string::npos) << command.back();
    EXPECT_TRUE(WaitFor(ResultAddress, ResultBytes));
}

TEST_F(SimulatedUpload, FindsTheBoardPort)
{
    UploadOptions o = options(TinyHex(dir));
    o.port.clear();
    const TempDir noPorts;
    o.portsDir = noPorts.path();
    UploadResult r = Upload(o);
    EXPECT_EQ(r.outcome, UploadOutcome::NoPort);
    EXPECT_TRUE(r.port.empty());
    EXPECT_TRUE(r.log.empty()); // avrdude was not run

    // The board as the first ACM port, with a USB adapter beside it.
    const TempDir ports;
    o.portsDir = ports.path();
    ASSERT_EQ(symlink(uno->port().c_str(), (o.portsDir + "/ttyACM0").c_str()), 0);
    std::ofstream(o.portsDir + "/ttyUSB0");
    r = Upload(o);
    EXPECT_TRUE(r.ok()) << r.explain() << "\n" << r.log;
    EXPECT_TRUE(r.portFound);
    EXPECT_EQ(r.port, o.portsDir + "/ttyACM0");
}

TEST_F(SimulatedUpload, StopEndsAvrdudeAtOnce)
{
    // A pseudo-terminal with nobody behind it: avrdude waits for an answer.
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::atomic<bool> cancel{false};
    UploadOptions o = options(TinyHex(dir));
    o.port = name;
    o.cancel = &cancel;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const UploadResult r = Upload(o);
    stopper.join();
    EXPECT_EQ(r.outcome, UploadOutcome::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    close(master);
    close(slave);
}

TEST(Failures, EachGivesItsOutcome)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    UploadOptions o;
    o.hexFile = dir + "/missing.hex";
    o.timeLimit = 10s;
    o.port = dir + "/ttyACM0";
    UploadResult r = Upload(o);
    EXPECT_EQ(r.outcome, UploadOutcome::Failed);
    EXPECT_NE(r.detail.find("cannot read the program"), std::string::npos) << r.detail;
    EXPECT_TRUE(r.log.empty()); // avrdude was not run

    o.hexFile = TinyHex(dir);

    r = Upload(o);
    EXPECT_EQ(r.outcome, UploadOutcome::NoPort) << r.log;
    EXPECT_NE(r.explain().find("plug the board in"), std::string::npos);

    o.avrdude = dir + "/no/avrdude";
    r = Upload(o);
    EXPECT_EQ(r.outcome, UploadOutcome::AvrdudeMissing);
    EXPECT_NE(r.explain().find("apt install avrdude"), std::string::npos);
    o.avrdude = "avrdude";

    // Nothing answers: avrdude's first attempt to get in step gives up
    // after some seconds, and the limit ends the others.
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    o.port = name;
    o.timeLimit = 7s;
    r = Upload(o);
    EXPECT_EQ(r.outcome, UploadOutcome::NoAnswer) << r.log;
    EXPECT_NE(r.explain().find("bootloader"), std::string::npos);
    close(master);
    close(slave);
}

} // namespace
