// The debugger on real programs on the simulated chip: breakpoints on Forth
// lines and their hits, steps by word and by line, faults stopped where
// they happen, pause, the frames, stacks and variables at each stop; and
// one whole session of the Debug Adapter Protocol against mirtolanc --dap.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Board.h"
#include "DebugSession.h"

using namespace mirtolan;
namespace fs = std::filesystem;

namespace {

constexpr auto EventWait = std::chrono::seconds(20);

std::string WorkDir()
{
    std::string pattern = (fs::temp_directory_path() / "mirtolan-debug-test-XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

// A session and the events it told, waited for one at a time.
class Debugged {
public:
    Debugged(const std::string& device, const std::string& source, bool stopOnEntry = false,
             std::shared_ptr<BoardLink> board = nullptr, bool optimise = false)
        : dir_(WorkDir()), session_([this](const DebugEvent& e) {
              std::lock_guard lock(mutex_);
              if (e.kind == DebugEvent::Output)
                  output_ += e.text;
              else
                  events_.push_back(e);
              changed_.notify_all();
          })
    {
        file_ = dir_ + "/prog.4th";
        std::ofstream(file_) << source;
        LaunchOptions o;
        o.build.sourceFile = file_;
        o.build.device = FindDevice(device);
        o.build.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
        o.build.runtimeDirs = {MIRTOLAN_SHARE_DIR};
        o.stopOnEntry = stopOnEntry;
        o.run.board = std::move(board);
        o.build.optimise = optimise;
        launched_ = session_.launch(o, error_);
    }
    ~Debugged()
    {
        session_.terminate();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    bool launched() const { return launched_; }
    const std::string& error() const { return error_; }
    DebugSession& operator*() { return session_; }
    DebugSession* operator->() { return &session_; }

    // The next event that is not output.
    DebugEvent next()
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, EventWait, [this] { return !events_.empty(); }))
            return DebugEvent{DebugEvent::Exited, StopKind::Pause, "no event came", {}, -1};
        DebugEvent e = events_.front();
        events_.erase(events_.begin());
        return e;
    }
    std::string output()
    {
        std::lock_guard lock(mutex_);
        return output_;
    }
    std::int64_t line() { return session_.stackTrace().at(0).line; }
    std::string word() { return session_.stackTrace().at(0).name; }

private:
    std::string dir_, file_, error_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DebugEvent> events_;
    std::string output_;
    DebugSession session_;
    bool launched_ = false;
};

std::vector<std::string> Values(const std::vector<Shown>& shown)
{
    std::vector<std::string> out;
    for (const Shown& s : shown)
        out.push_back(s.value);
    return out;
}

const char* const Counter = "VARIABLE count\n"     // 1
                            ": bump ( -- )\n"     // 2
                            "  count C@ 1+\n"     // 3
                            "  count C! ;\n"      // 4
                            ": main\n"            // 5
                            "  3 0 DO\n"          // 6
                            "    bump\n"          // 7
                            "  LOOP\n"            // 8
                            "  count C@ ;\n";     // 9

class Debug : public testing::TestWithParam<std::string> {};

TEST_P(Debug, BreakpointsInACalledWordAndInALoopStopAtEveryPass)
{
    Debugged d(GetParam(), Counter);
    ASSERT_TRUE(d.launched()) << d.error();
    const auto placed = d->setBreakpoints({3, 7});
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_TRUE(placed[0].verified && placed[1].verified);
    d->start();
    for (int pass = 0; pass < 3; ++pass) {
        DebugEvent e = d.next();
        ASSERT_EQ(e.kind, DebugEvent::Stopped) << e.text;
        EXPECT_EQ(e.stop, StopKind::Breakpoint);
        EXPECT_EQ(d.line(), 7);
        EXPECT_EQ(d.word(), "main");
        EXPECT_EQ(Values(d->variables()), std::vector<std::string>{std::to_string(pass)});
        // The loop stack: the index on top of its limit.
        EXPECT_EQ(Values(d->loopStack()), (std::vector<std::string>{std::to_string(pass), "3"}));
        d->resume();
        e = d.next();
        ASSERT_EQ(e.kind, DebugEvent::Stopped);
        EXPECT_EQ(d.line(), 3);
        const auto frames = d->stackTrace();
        ASSERT_GE(frames.size(), 2u);
        EXPECT_EQ(frames[0].name, "bump");
        EXPECT_EQ(frames[1].name, "main");
        EXPECT_EQ(frames[1].line, 7);
        d->resume();
    }
    const DebugEvent end = d.next();
    EXPECT_EQ(end.kind, DebugEvent::Exited);
    EXPECT_EQ(end.exitCode, 0);
}

TEST_P(Debug, StepsInOutAndOverALoop)
{
    Debugged d(GetParam(), Counter, true);
    ASSERT_TRUE(d.launched()) << d.error();
    d->start();
    ASSERT_EQ(d.next().stop, StopKind::Entry);
    EXPECT_EQ(d.line(), 6);
    // Over words: 3, 0, DO, then bump's call on line 7.
    for (int i = 0; i < 3; ++i) {
        d->stepOver(false);
        ASSERT_EQ(d.next().stop, StopKind::Step);
    }
    EXPECT_EQ(d.line(), 7);
    d->stepIn();
    ASSERT_EQ(d.next().stop, StopKind::Step);
    EXPECT_EQ(d.word(), "bump");
    EXPECT_EQ(d.line(), 3);
    d->stepOut();
    ASSERT_EQ(d.next().stop, StopKind::Step);
    EXPECT_EQ(d.word(), "main");
    EXPECT_EQ(d.line(), 8);
    // By lines, the loop goes round: 7, 8, 7, 8, then past it to 9.
    std::vector<std::int64_t> lines;
    for (int i = 0; i < 5; ++i) {
        d->stepOver(true);
        ASSERT_EQ(d.next().stop, StopKind::Step);
        lines.push_back(d.line());
    }
    EXPECT_EQ(lines, (std::vector<std::int64_t>{7, 8, 7, 8, 9}));
    EXPECT_EQ(Values(d->variables()), std::vector<std::string>{"3"});
    d->resume();
    EXPECT_EQ(d.next().kind, DebugEvent::Exited);
}

TEST_P(Debug, AnUnderflowStopsAsAnExceptionAtItsWordAndLine)
{
    Debugged d(GetParam(), ": take DROP DROP ;\n: main\n  1 take 2 ;\n");
    ASSERT_TRUE(d.launched()) << d.error();
    d->start();
    const DebugEvent e = d.next();
    ASSERT_EQ(e.kind, DebugEvent::Stopped);
    EXPECT_EQ(e.stop, StopKind::Exception);
    EXPECT_NE(e.text.find("data stack underflow in DROP (line 1)"), std::string::npos) << e.text;
    const auto frames = d->stackTrace();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].name, "DROP");
    EXPECT_EQ(frames[0].line, 0); // an archive routine: no source
    EXPECT_EQ(frames[1].name, "take");
    EXPECT_EQ(frames[1].line, 1);
    EXPECT_EQ(frames[2].name, "main");
    EXPECT_EQ(frames[2].line, 3);
    EXPECT_TRUE(d->dataStack().empty());
}

TEST_P(Debug, PauseStopsAnEndlessProgramAndBreakpointsChangeWhileItRuns)
{
    Debugged d(GetParam(), "VARIABLE n\n: tick n C@ 1+ n C! ;\n: main\n  BEGIN\n    tick\n  AGAIN ;\n");
    ASSERT_TRUE(d.launched()) << d.error();
    d->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    d->pause();
    ASSERT_EQ(d.next().stop, StopKind::Pause);
    EXPECT_FALSE(d->stackTrace().empty());
    d->resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Set while running; a line without code moves to the next that has some.
    const auto placed = d->setBreakpoints({4});
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_TRUE(placed[0].verified);
    EXPECT_EQ(placed[0].line, 5);
    EXPECT_NE(placed[0].message.find("moved to line 5"), std::string::npos) << placed[0].message;
    const DebugEvent e = d.next();
    EXPECT_EQ(e.stop, StopKind::Breakpoint);
    EXPECT_EQ(d.line(), 5);
    EXPECT_EQ(e.breakpoints, std::vector<int>{placed[0].id});
}

// Waits until `ready` holds of the board's pins; false after EventWait.
bool PinsBecome(const BoardLink& board, const std::function<bool(const std::vector<PinState>&)>& ready)
{
    const auto until = std::chrono::steady_clock::now() + EventWait;
    while (std::chrono::steady_clock::now() < until) {
        if (ready(board.pins()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

const PinState* Pin(const std::vector<PinState>& pins, char port, int bit)
{
    for (const PinState& p : pins)
        if (p.port == port && p.bit == bit)
            return &p;
    return nullptr;
}

// A lamp on PB1 that follows a button on PB2 (to ground, with the pull-up
// on): the board sees the output, the pull-up and the read of PINB, and a
// level driven from outside changes what the program reads.
TEST_P(Debug, TheBoardSeesThePinsAndDrivesAnInput)
{
    auto board = std::make_shared<BoardLink>();
    Debugged d(GetParam(),
               ": main #PB1 &DDRB C!\n"
               "  BEGIN &PINB C@ #PB2 AND 0= IF #PB2 #PB1 OR ELSE #PB2 THEN &PORTB C! AGAIN ;\n",
               false, board);
    ASSERT_TRUE(d.launched()) << d.error();
    EXPECT_TRUE(board->attached());
    d->start();
    const auto lampIs = [](bool on) {
        return [on](const std::vector<PinState>& pins) {
            const PinState* lamp = Pin(pins, 'B', 1);
            const PinState* button = Pin(pins, 'B', 2);
            return lamp && button && lamp->output && lamp->everOutput && lamp->level == on && !button->output &&
                   button->pullUp && button->portRead;
        };
    };
    // The pull-up holds the button's pin high; pressed, the level driven
    // holds against the program's writes of PORTB, which keep the pull-up on.
    EXPECT_TRUE(PinsBecome(*board, lampIs(false)));
    board->drivePin('B', 2, 0);
    EXPECT_TRUE(PinsBecome(*board, lampIs(true)));
    board->drivePin('B', 2, 1);
    EXPECT_TRUE(PinsBecome(*board, lampIs(false)));
    const auto pins = board->pins(); // kept: Pin points into it
    const PinState* idle = Pin(pins, 'B', 3);
    ASSERT_TRUE(idle);
    EXPECT_FALSE(idle->everOutput || idle->pullUp);
    d->terminate();
}

INSTANTIATE_TEST_SUITE_P(Devices, Debug, testing::Values("atmega328p", "atmega2560", "attiny85"));

// Optimised, bump is written into main's loop, which counts in registers:
// its lines still take breakpoints and steps, as code of main's, and a
// fault is still stopped at the word that made it.
TEST(DebugOptimised, BreakpointsStepsAndFaultsInInlinedWords)
{
    {
        Debugged d("atmega328p", Counter, false, nullptr, true);
        ASSERT_TRUE(d.launched()) << d.error();
        const auto placed = d->setBreakpoints({3, 7});
        ASSERT_EQ(placed.size(), 2u);
        EXPECT_TRUE(placed[0].verified && placed[1].verified);
        EXPECT_EQ(placed[1].line, 8); // the call is gone: LOOP's code is next
        d->start();
        for (int pass = 0; pass < 3; ++pass) {
            ASSERT_EQ(d.next().stop, StopKind::Breakpoint);
            EXPECT_EQ(d.line(), 3);
            EXPECT_EQ(d.word(), "main");
            EXPECT_EQ(Values(d->variables()), std::vector<std::string>{std::to_string(pass)});
            // The loop counts in registers; it shows as DO put it on the loop stack.
            EXPECT_EQ(Values(d->loopStack()), (std::vector<std::string>{std::to_string(pass), "3"}));
            d->resume();
            ASSERT_EQ(d.next().stop, StopKind::Breakpoint);
            EXPECT_EQ(d.line(), 8);
            EXPECT_EQ(Values(d->variables()), std::vector<std::string>{std::to_string(pass + 1)});
            d->resume();
        }
        EXPECT_EQ(d.next().kind, DebugEvent::Exited);
    }
    {
        Debugged d("atmega328p", Counter, true, nullptr, true);
        ASSERT_TRUE(d.launched()) << d.error();
        d->start();
        ASSERT_EQ(d.next().stop, StopKind::Entry);
        std::vector<std::int64_t> lines;
        for (int i = 0; i < 7; ++i) {
            d->stepOver(true);
            ASSERT_EQ(d.next().stop, StopKind::Step);
            lines.push_back(d.line());
        }
        EXPECT_EQ(lines, (std::vector<std::int64_t>{3, 4, 8, 3, 4, 8, 3}));
        d->resume();
        EXPECT_EQ(d.next().kind, DebugEvent::Exited);
    }
    {
        // Cells in registers show on the data stack as they would in memory,
        // as they are where the line's code begins (here at *, since DUP and
        // 2 make no code of their own).
        Debugged d("atmega328p", "VARIABLE v\n: main 7 v C! 9\n  v C@ 5 +\n  DUP 2 *\n  + + ;\n", false, nullptr, true);
        ASSERT_TRUE(d.launched()) << d.error();
        d->setBreakpoints({4, 5});
        d->start();
        ASSERT_EQ(d.next().stop, StopKind::Breakpoint);
        EXPECT_EQ(d.line(), 4);
        EXPECT_EQ(Values(d->dataStack()), (std::vector<std::string>{"9", "12", "12", "2"}));
        d->resume();
        ASSERT_EQ(d.next().stop, StopKind::Breakpoint);
        EXPECT_EQ(d.line(), 5);
        EXPECT_EQ(Values(d->dataStack()), (std::vector<std::string>{"9", "12", "24"}));
        d->resume();
        EXPECT_EQ(d.next().kind, DebugEvent::Exited);
    }
    {
        Debugged d("atmega328p", ": take DROP DROP ;\n: main\n  1 take 2 ;\n", false, nullptr, true);
        ASSERT_TRUE(d.launched()) << d.error();
        d->start();
        const DebugEvent e = d.next();
        ASSERT_EQ(e.stop, StopKind::Exception);
        EXPECT_NE(e.text.find("data stack underflow in main (line 1)"), std::string::npos) << e.text;
        EXPECT_EQ(d.line(), 1);
    }
}

// The ADC inputs each chip has, as the board offers them.
TEST(Board, AdcInputsOfEachDevice)
{
    const std::pair<const char*, int> expected[] = {{"atmega32", 8}, {"atmega328p", 8}, {"atmega2560", 8},
                                                    {"atmega644", 8}, {"atmega168", 8},  {"attiny85", 4}};
    for (const auto& [device, channels] : expected) {
        auto board = std::make_shared<BoardLink>();
        Debugged d(device, ": main ;\n", false, board);
        ASSERT_TRUE(d.launched()) << device << ": " << d.error();
        EXPECT_EQ(board->adcChannels(), channels) << device;
    }
}

// A voltage set on the board before the program runs is what it converts;
// one set while it runs is read at the next conversion; the UART text goes
// both ways; after the session the board keeps the last run's text and pins.
TEST(Board, AdcVoltsAndUartOfARun)
{
    auto board = std::make_shared<BoardLink>();
    board->driveAdc(0, 2.5);
    Debugged d("atmega328p",
               "VARIABLE level\n"
               ": convert #REFS0 #ADLAR OR &ADMUX C! #ADEN #ADSC OR #ADPS2 OR &ADCSRA C!\n"
               "  BEGIN &ADCSRA C@ #ADSC AND 0= UNTIL &ADCH C@ level C! ;\n"
               ": main BEGIN convert KEY? IF KEY EMIT THEN AGAIN ;\n",
               false, board);
    ASSERT_TRUE(d.launched()) << d.error();
    const auto levelIs = [&](const std::string& value) {
        const auto until = std::chrono::steady_clock::now() + EventWait;
        while (std::chrono::steady_clock::now() < until) {
            d->pause();
            const DebugEvent e = d.next();
            if (e.kind != DebugEvent::Stopped)
                return false;
            const bool same = d->variables().at(0).value == value;
            d->resume();
            if (same)
                return true;
        }
        return false;
    };
    d->start();
    EXPECT_TRUE(levelIs("127")); // 2.5 V of 5 V, the top eight of ten bits
    board->driveAdc(0, 5.0);
    EXPECT_TRUE(levelIs("255"));
    board->sendUart("ok");
    std::string echoed;
    const auto until = std::chrono::steady_clock::now() + EventWait;
    while (echoed.size() < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        echoed = board->uartSince(0);
    }
    EXPECT_EQ(echoed, "ok");
    EXPECT_EQ(board->uartSince(1), "k");
    d->terminate();
    EXPECT_TRUE(board->attached()); // the machine stays, to be looked into, until the session goes
}

TEST(Board, APlainRunLeavesItsPinsAndText)
{
    const std::string dir = WorkDir();
    const std::string file = dir + "/prog.4th";
    std::ofstream(file) << ": main #PB5 &DDRB C! #PB5 &PORTB C! 'h EMIT 'i EMIT 1 MS ;\n";
    BuildOptions b;
    b.sourceFile = file;
    b.device = FindDevice("atmega328p");
    b.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    b.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    const BuildResult built = BuildHex(b);
    ASSERT_EQ(built.status, BuildResult::Built) << built.error;
    RunOptions o;
    o.board = std::make_shared<BoardLink>();
    const RunReport r = RunProgram(built, o);
    EXPECT_EQ(r.stopped, StopReason::Halted);
    EXPECT_FALSE(o.board->attached());
    EXPECT_EQ(o.board->generation(), 1u);
    EXPECT_EQ(o.board->uartSince(0), "hi");
    const auto pins = o.board->pins(); // kept: Pin points into it
    const PinState* led = Pin(pins, 'B', 5);
    ASSERT_TRUE(led);
    EXPECT_TRUE(led->output && led->level);
    fs::remove_all(dir);
}

// The whole protocol: mirtolanc --dap driven through pipes.
class DapProcess {
public:
    DapProcess()
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            ::execl(MIRTOLANC_PATH, MIRTOLANC_PATH, "--dap", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~DapProcess()
    {
        if (to_ >= 0)
            ::close(to_);
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (from_ >= 0)
            ::close(from_);
    }
    int request(const std::string& command, nlohmann::json args = nlohmann::json::object())
    {
        const nlohmann::json r{{"seq", ++seq_}, {"type", "request"}, {"command", command}, {"arguments", args}};
        const std::string body = r.dump();
        const std::string message = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        EXPECT_EQ(::write(to_, message.data(), message.size()), ssize_t(message.size()));
        return seq_;
    }
    // The next message; null at the end of the output.
    nlohmann::json read()
    {
        std::string header;
        char c;
        while (header.find("\r\n\r\n") == std::string::npos) {
            if (::read(from_, &c, 1) != 1)
                return nullptr;
            header += c;
        }
        const std::size_t length = std::stoul(header.substr(header.find(':') + 1));
        std::string body(length, '\0');
        std::size_t got = 0;
        while (got < length) {
            const ssize_t n = ::read(from_, body.data() + got, length - got);
            if (n <= 0)
                return nullptr;
            got += std::size_t(n);
        }
        log_ += body + "\n";
        return nlohmann::json::parse(body);
    }
    // Reads on to the response of request `seq`, or to the event `name`.
    nlohmann::json response(int seq)
    {
        for (nlohmann::json m = read(); !m.is_null(); m = read())
            if (m["type"] == "response" && m["request_seq"] == seq)
                return m;
            else
                seen_.push_back(m);
        return nullptr;
    }
    nlohmann::json event(const std::string& name)
    {
        for (std::size_t i = 0; i < seen_.size(); ++i)
            if (seen_[i]["type"] == "event" && seen_[i]["event"] == name) {
                nlohmann::json m = seen_[i];
                seen_.erase(seen_.begin() + std::ptrdiff_t(i));
                return m;
            }
        for (nlohmann::json m = read(); !m.is_null(); m = read())
            if (m["type"] == "event" && m["event"] == name)
                return m;
        return nullptr;
    }
    std::string log() const { return log_; }
    int exitStatus()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    int seq_ = 0;
    bool waited_ = false;
    std::vector<nlohmann::json> seen_;
    std::string log_; // every message read, for a failure's report
};

TEST(Dap, AWholeSessionOverThePipes)
{
    const std::string dir = WorkDir();
    const std::string file = dir + "/prog.4th";
    std::ofstream(file) << Counter;
    DapProcess dap;
    EXPECT_TRUE(dap.response(dap.request("initialize", {{"adapterID", "mirtolan"}}))["success"].get<bool>());
    auto launched = dap.response(dap.request("launch", {{"program", file}, {"device", "atmega328p"}}));
    ASSERT_TRUE(launched["success"].get<bool>()) << launched.dump();
    ASSERT_FALSE(dap.event("initialized").is_null());
    auto placed = dap.response(dap.request(
        "setBreakpoints", {{"source", {{"path", file}}}, {"breakpoints", {{{"line", 3}}, {{"line", 5}}}}}));
    ASSERT_EQ(placed["body"]["breakpoints"].size(), 2u);
    EXPECT_EQ(placed["body"]["breakpoints"][1]["line"], 6); // line 5 has no code of its own
    dap.response(dap.request("configurationDone"));
    EXPECT_EQ(dap.event("stopped")["body"]["reason"], "breakpoint");
    auto frames = dap.response(dap.request("stackTrace", {{"threadId", 1}}));
    EXPECT_EQ(frames["body"]["stackFrames"][0]["line"], 6);
    EXPECT_EQ(frames["body"]["stackFrames"][0]["source"]["path"], file);
    auto scopes = dap.response(dap.request("scopes", {{"frameId", 0}}));
    EXPECT_EQ(scopes["body"]["scopes"][0]["name"], "Data stack");
    dap.response(dap.request("continue", {{"threadId", 1}}));
    EXPECT_EQ(dap.event("stopped")["body"]["reason"], "breakpoint");
    frames = dap.response(dap.request("stackTrace", {{"threadId", 1}}));
    EXPECT_EQ(frames["body"]["stackFrames"][0]["name"], "bump") << frames.dump() << dap.log();
    auto vars = dap.response(dap.request("variables", {{"variablesReference", 2}}));
    EXPECT_EQ(vars["body"]["variables"][0]["name"], "count");
    EXPECT_EQ(vars["body"]["variables"][0]["value"], "0");
    auto value = dap.response(dap.request("evaluate", {{"expression", "COUNT"}}));
    EXPECT_EQ(value["body"]["result"], "0");
    dap.response(dap.request("setBreakpoints", {{"source", {{"path", file}}}, {"breakpoints", nlohmann::json::array()}}));
    dap.response(dap.request("continue", {{"threadId", 1}}));
    EXPECT_EQ(dap.event("exited")["body"]["exitCode"], 0);
    EXPECT_FALSE(dap.event("terminated").is_null());
    EXPECT_TRUE(dap.response(dap.request("disconnect"))["success"].get<bool>());
    EXPECT_EQ(dap.exitStatus(), 0);
    fs::remove_all(dir);
}

} // namespace
