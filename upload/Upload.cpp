#include "Upload.h"

#include "Process.h"
#include "Scratch.h"
#include "TextFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>



namespace mirtolan {
namespace {

constexpr Programmer ProgrammerTable[] = {
    {"arduino", "Arduino bootloader (Uno, Nano, Pro Mini)", true, 115200, false},
    {"usbasp", "USBasp ISP programmer", false, 0, true},
    {"avrisp2", "Atmel AVR ISP mkII", false, 0, true},
    {"stk500v2", "STK500 version 2 and its clones", true, 115200, true},
};

constexpr UploadAdvice AdviceTable[] = {
    {UploadOutcome::Uploaded, "uploaded and verified", "", ""},
    {UploadOutcome::NoPort, "no serial port for the board",
     "the board is not plugged in, its USB cable carries power only, or the port has another name",
     "plug the board in and choose its port (ls /dev/ttyACM* /dev/ttyUSB* lists them)"},
    {UploadOutcome::PortPermission, "the serial port may not be opened",
     "your user is not in the dialout group, which owns the serial ports",
     "run  sudo usermod -aG dialout $USER  then log out and log in again"},
    {UploadOutcome::NoAnswer, "the programmer does not answer",
     "the wrong programmer or port, the board did not reset into its bootloader, or the chip has no bootloader",
     "check the programmer (arduino for an Uno) and the port; press the board's reset button just as the upload starts; "
     "a chip without a bootloader needs an ISP programmer such as usbasp"},
    {UploadOutcome::WrongDevice, "the chip is not the device the program was built for",
     "another device is chosen than the chip on the board",
     "choose the board's device and build again"},
    {UploadOutcome::VerifyFailed, "verification failed: the chip's flash differs from the program",
     "a poor connection, a flash worn out or locked, or a program that overlaps the bootloader",
     "upload again; if it fails again try another USB cable or a lower baud, and check the size of the program"},
    {UploadOutcome::AvrdudeMissing, "avrdude is not installed",
     "the avrdude program is not on PATH",
     "install it:  sudo apt install avrdude"},
    {UploadOutcome::Stopped, "the upload was stopped",
     "it was stopped before it finished; the chip may hold part of the program",
     "upload again"},
    {UploadOutcome::TimedOut, "avrdude did not finish in time",
     "the port went away during the upload (board unplugged or reset)",
     "plug the board in again and upload again"},
    {UploadOutcome::Failed, "avrdude failed",
     "see avrdude's own message below",
     "correct what avrdude names and upload again"},
};

// Lines of avrdude's output that decide an outcome, the first match in this
// order winning: a missing or forbidden port also makes avrdude say it
// cannot open the programmer, and a dead chip reads as a wrong signature.
struct Pattern {
    std::string_view text;  // a piece of one of avrdude's lines
    UploadOutcome outcome;  // what that line means
    std::string_view also = {}; // a second piece the same line must hold, if any
};
constexpr Pattern Patterns[] = {
    {"Permission denied", UploadOutcome::PortPermission},
    {"No such file or directory", UploadOutcome::NoPort, "open port"},   // avrdude 7
    {"No such file or directory", UploadOutcome::NoPort, "open device"}, // avrdude 6
    {"verification mismatch", UploadOutcome::VerifyFailed},
    {"verification error", UploadOutcome::VerifyFailed},
    {"signature = 0x000000", UploadOutcome::NoAnswer},
    {"signature = 0xffffff", UploadOutcome::NoAnswer},
    {"expected signature for", UploadOutcome::WrongDevice},
    {"programmer is not responding", UploadOutcome::NoAnswer},
    {"not in sync", UploadOutcome::NoAnswer},
    {"timeout", UploadOutcome::NoAnswer},
    {"cannot find USB device", UploadOutcome::NoAnswer},
    {"could not find USB device", UploadOutcome::NoAnswer},
    {"did not find any USB device", UploadOutcome::NoAnswer},
    {"initialization failed", UploadOutcome::NoAnswer},
    {"target doesn't answer", UploadOutcome::NoAnswer},
};

// The line avrdude 6 and 7 write when the read-back equals the file, "N bytes of flash verified".
constexpr std::string_view VerifiedLine = "bytes of flash verified";

// The bars' headers, as avrdude writes them at the start of a line.
constexpr std::string_view WritingBar = "Writing | ";
constexpr std::string_view ReadingBar = "Reading | ";
// Each '#' of a bar is this many percent.
constexpr int PercentPerMark = 2;

std::optional<unsigned> NumberAfter(std::string_view name, std::string_view prefix)
{
    if (!name.starts_with(prefix) || name.size() == prefix.size())
        return std::nullopt;
    unsigned n = 0;
    for (char c : name.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + unsigned(c - '0');
    }
    return n;
}

// The first line of `log` that holds `text` and `also`.
std::optional<std::string_view> LineWith(std::string_view log, std::string_view text, std::string_view also)
{
    for (std::size_t from = 0; from < log.size();) {
        std::size_t to = log.find('\n', from);
        if (to == std::string_view::npos)
            to = log.size();
        const std::string_view line = log.substr(from, to - from);
        if (line.find(text) != line.npos && line.find(also) != line.npos)
            return line;
        from = to + 1;
    }
    return std::nullopt;
}

} // namespace

std::span<const Programmer> Programmers() { return ProgrammerTable; }

const Programmer* FindProgrammer(std::string_view id)
{
    for (const auto& p : ProgrammerTable)
        if (p.id == id)
            return &p;
    return nullptr;
}

std::vector<std::string> BoardPorts(const std::string& devDir)
{
    // ACM first: the name an Uno, Leonardo or Mega gets.
    constexpr std::string_view Families[] = {"ttyACM", "ttyUSB"};
    std::vector<std::string> ports;
    std::error_code ec;
    for (auto family : Families) {
        std::vector<std::pair<unsigned, std::string>> found;
        for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
            const std::string name = entry.path().filename().string();
            if (auto n = NumberAfter(name, family))
                found.emplace_back(*n, entry.path().string());
        }
        std::sort(found.begin(), found.end());
        for (auto& f : found)
            ports.push_back(std::move(f.second));
    }
    return ports;
}

const UploadAdvice& AdviceFor(UploadOutcome outcome)
{
    for (const auto& a : AdviceTable)
        if (a.outcome == outcome)
            return a;
    return AdviceTable[std::size(AdviceTable) - 1];
}

std::string UploadResult::explain() const
{
    const UploadAdvice& a = AdviceFor(outcome);
    if (ok())
        return "uploaded to " + port + " and verified";
    std::string out = "upload failed: " + std::string(a.what);
    if (!port.empty())
        out += " (port " + port + ")";
    out += "\n  likely cause: " + std::string(a.cause);
    out += "\n  remedy: " + std::string(a.remedy);
    if (!detail.empty())
        out += "\n  avrdude said: " + detail;
    return out;
}

std::vector<std::string> AvrdudeCommand(const UploadOptions& o, const std::string& port)
{
    const Device& device = o.device ? *o.device : DefaultDevice();
    const Programmer* p = FindProgrammer(o.programmer);
    std::vector<std::string> cmd{o.avrdude, "-c", o.programmer, "-p", std::string(device.avrdudePart)};
    if (!port.empty())
        cmd.insert(cmd.end(), {"-P", port});
    const unsigned baud = o.baud ? o.baud : p ? p->defaultBaud : 0;
    if (baud)
        cmd.insert(cmd.end(), {"-b", std::to_string(baud)});
    if (p && !p->eraseFirst)
        cmd.push_back("-D");
    cmd.insert(cmd.end(), {"-U", "flash:w:" + o.hexFile + ":i"});
    return cmd;
}

bool ProgressReader::feed(std::string_view text)
{
    bool changed = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            line_.clear();
            continue;
        }
        line_ += c;
        if (c != '#' && c != '%')
            continue;
        const bool writing = line_.starts_with(WritingBar);
        if (!writing && !line_.starts_with(ReadingBar))
            continue;
        if (writing)
            wrote_ = true;
        const int marks = int(std::count(line_.begin() + WritingBar.size(), line_.end(), '#'));
        UploadProgress next;
        next.phase = writing ? "Writing" : wrote_ ? "Verifying" : "Connecting";
        next.phasePercent = std::min(100, marks * PercentPerMark);
        next.percent = writing ? next.phasePercent / 2 : wrote_ ? 50 + next.phasePercent / 2 : 0;
        if (next.phase != progress_.phase || next.phasePercent != progress_.phasePercent) {
            progress_ = next;
            changed = true;
        }
    }
    return changed;
}

bool IsProgrammerId(std::string_view id)
{
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    };
    return !id.empty() && id[0] != '-' && std::all_of(id.begin(), id.end(), allowed);
}

UploadOutcome ClassifyAvrdude(std::string_view log, int exitStatus, std::string& detail)
{
    detail.clear();
    if (exitStatus == 0) {
        if (LineWith(log, VerifiedLine, {}))
            return UploadOutcome::Uploaded;
        detail = "avrdude ended without verifying the flash (no \"" + std::string(VerifiedLine) +
                 "\" line): it uploaded nothing";
        return UploadOutcome::Failed;
    }
    for (const auto& p : Patterns) {
        if (const auto line = LineWith(log, p.text, p.also)) {
            detail = *line;
            return p.outcome;
        }
    }
    // Otherwise avrdude's first error line says most.
    if (const auto line = LineWith(log, "error", {}))
        detail = *line;
    return UploadOutcome::Failed;
}

UploadResult Upload(const UploadOptions& options)
{
    UploadResult r;
    UploadOptions o = options;
    r.port = o.port;
    if (!IsProgrammerId(o.programmer)) {
        r.detail = "'" + o.programmer +
                   "' is no programmer id (avrdude -c ? lists them); avrdude would answer it with a list or its "
                   "configuration instead of an upload";
        return r;
    }
    const Programmer* p = FindProgrammer(o.programmer);
    if (r.port.empty() && (!p || p->serialPort)) {
        const auto ports = BoardPorts(o.portsDir);
        if (ports.empty()) {
            r.outcome = UploadOutcome::NoPort;
            return r;
        }
        r.port = ports.front();
        r.portFound = true;
    }
    // avrdude gets the program as built, from a copy of our own.
    PrivateFolder copy("mirtolan-upload-");
    if (!o.hexImage.empty()) {
        if (copy.path().empty()) {
            r.detail = copy.error();
            return r;
        }
        const std::string name = std::filesystem::path(o.hexFile).filename().string();
        // avrdude's -U takes ':' as its field separator.
        o.hexFile = copy.file(name.empty() || name.find(':') != std::string::npos ? "program.hex" : name);
        try {
            WriteFileSafely(o.hexFile, o.hexImage);
        } catch (const std::exception& e) {
            r.detail = e.what();
            return r;
        }
    }
    r.command = AvrdudeCommand(o, r.port);
    // avrdude would open the port and reset the board before it finds out.
    if (access(o.hexFile.c_str(), R_OK) != 0) {
        r.detail = "cannot read the program " + o.hexFile + ": " + std::strerror(errno);
        return r;
    }

    ProgressReader reader;
    std::string partial; // a line not yet ended
    auto onText = [&](std::string_view text) {
        r.log += text;
        if (o.progress && reader.feed(text))
            o.progress(reader.progress());
        if (!o.output)
            return;
        for (char c : text) {
            if (c == '\n') {
                o.output(partial);
                partial.clear();
            } else if (c != '\r') {
                partial += c;
            }
        }
    };
    if (o.starting)
        o.starting(r.command);
    ProcessOptions run;
    run.cancel = o.cancel;
    run.timeLimit = o.timeLimit;
    run.onText = onText;
    const ProcessResult end = RunProcess(r.command, run);
    if (o.output && !partial.empty())
        o.output(partial);
    if (!end.started) {
        r.outcome = end.startErrno == ENOENT ? UploadOutcome::AvrdudeMissing : UploadOutcome::Failed;
        if (r.outcome == UploadOutcome::Failed)
            r.detail = "cannot start " + o.avrdude + ": " + std::strerror(end.startErrno);
        return r;
    }
    r.exitStatus = end.exitCode;
    if (end.stopped) {
        r.outcome = UploadOutcome::Stopped;
        return r;
    }
    if (end.signal) {
        r.detail = "avrdude " + DescribeSignal(end.signal);
        return r;
    }
    r.outcome = ClassifyAvrdude(r.log, end.timedOut ? -1 : end.exitCode, r.detail);
    // At the limit with nothing telling in the output, the limit is the news.
    if (end.timedOut && r.outcome == UploadOutcome::Failed)
        r.outcome = UploadOutcome::TimedOut;
    if (r.ok() && o.progress) {
        UploadProgress done{"Verifying", 100, 100};
        o.progress(done);
    }
    return r;
}

UploadResult UploadWithReport(UploadOptions options, std::ostream& out, std::ostream& err, std::string_view program)
{
    int shown = -1; // the last step of ProgressStep percent shown
    std::string phase;
    options.progress = [&](const UploadProgress& p) {
        const int step = p.percent / ProgressStep * ProgressStep;
        if (step == shown && p.phase == phase)
            return;
        shown = step;
        phase = p.phase;
        out << "  " << p.phase << " " << step << "%\n" << std::flush;
    };
    // The port is found here, so the user reads which before avrdude starts.
    bool found = false;
    const Programmer* p = FindProgrammer(options.programmer);
    if (options.port.empty() && (!p || p->serialPort)) {
        const auto ports = BoardPorts(options.portsDir);
        if (!ports.empty()) {
            options.port = ports.front();
            found = true;
            out << "Using " << options.port << ", the first board port found\n";
        }
    }
    options.starting = [&](const std::vector<std::string>& command) {
        out << "Running";
        for (const auto& a : command)
            out << ' ' << a;
        out << '\n' << std::flush;
    };
    UploadResult r = Upload(options);
    r.portFound = found;
    if (r.ok())
        out << program << ": " << r.explain() << '\n';
    else
        err << program << ": error: " << r.explain() << '\n';
    return r;
}

} // namespace mirtolan
