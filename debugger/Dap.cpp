#include "Dap.h"

#include <atomic>
#include <filesystem>
#include <istream>
#include <memory>
#include <mutex>
#include <ostream>

#include <nlohmann/json.hpp>

#include "DebugSession.h"

namespace mirtolan {

namespace {

using Json = nlohmann::json;

// The one thread a chip has.
constexpr int ThreadId = 1;
// Variable references: the scopes, and from TablesBase on the tables (by
// index among the variables).
enum Scope { DataStackScope = 1, VariablesScope, LoopStackScope, RegistersScope, TablesBase = 100 };
// A header line longer than this is no Content-Length header.
constexpr std::size_t MaxHeaderLine = 1024;
// A message longer than this is refused rather than read into memory.
constexpr std::size_t MaxMessageBytes = 64u << 20;

const char* stopReason(StopKind k)
{
    switch (k) {
    case StopKind::Entry: return "entry";
    case StopKind::Breakpoint: return "breakpoint";
    case StopKind::Step: return "step";
    case StopKind::Pause: return "pause";
    case StopKind::Exception: return "exception";
    }
    return "pause";
}

class Server {
public:
    Server(std::istream& in, std::ostream& out, const DapSetup& setup) : in_(in), out_(out), setup_(setup) {}

    int serve()
    {
        while (!done_) {
            Json request;
            if (!read(request))
                break;
            if (request.value("type", "") != "request")
                continue;
            handle(request);
        }
        if (session_)
            session_->terminate();
        return 0;
    }

private:
    // One message: "Content-Length: N" lines up to an empty one, then N bytes.
    bool read(Json& message)
    {
        std::size_t length = 0;
        bool sawLength = false;
        for (;;) {
            std::string line;
            if (!std::getline(in_, line))
                return false;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty()) {
                if (sawLength)
                    break;
                continue;
            }
            if (line.size() > MaxHeaderLine)
                return false;
            constexpr std::string_view Header = "Content-Length:";
            if (line.compare(0, Header.size(), Header) == 0) {
                try {
                    length = std::stoul(line.substr(Header.size()));
                    sawLength = true;
                } catch (const std::exception&) {
                    return false;
                }
            }
        }
        if (length > MaxMessageBytes)
            return false;
        std::string body(length, '\0');
        if (!in_.read(body.data(), std::streamsize(length)))
            return false;
        message = Json::parse(body, nullptr, false);
        return !message.is_discarded();
    }

    void send(Json message)
    {
        std::lock_guard lock(outMutex_);
        message["seq"] = seq_++;
        const std::string body = message.dump(-1, ' ', false, Json::error_handler_t::replace);
        out_ << "Content-Length: " << body.size() << "\r\n\r\n" << body << std::flush;
    }

    void respond(const Json& request, bool success, Json body = Json::object(), const std::string& message = "")
    {
        Json r{{"type", "response"},
               {"request_seq", request.value("seq", 0)},
               {"success", success},
               {"command", request.value("command", "")}};
        if (!body.empty())
            r["body"] = std::move(body);
        if (!message.empty())
            r["message"] = message;
        send(std::move(r));
    }

    void event(const std::string& name, Json body = Json::object())
    {
        Json e{{"type", "event"}, {"event", name}};
        if (!body.empty())
            e["body"] = std::move(body);
        send(std::move(e));
    }

    void onSessionEvent(const DebugEvent& e)
    {
        switch (e.kind) {
        case DebugEvent::Output:
            event("output", {{"category", "stdout"}, {"output", e.text}});
            break;
        case DebugEvent::Stopped: {
            Json body{{"reason", stopReason(e.stop)}, {"threadId", ThreadId}, {"allThreadsStopped", true}};
            if (e.stop == StopKind::Exception) {
                body["description"] = e.text;
                body["text"] = e.text;
            }
            if (!e.breakpoints.empty())
                body["hitBreakpointIds"] = e.breakpoints;
            event("stopped", std::move(body));
            break;
        }
        case DebugEvent::Exited:
            exited(e.exitCode);
            break;
        }
    }

    void exited(int code = 0)
    {
        if (exitedSent_.exchange(true))
            return;
        event("exited", {{"exitCode", code}});
        event("terminated");
    }

    Json sourceOf() const
    {
        return {{"name", std::filesystem::path(program_).filename().string()}, {"path", program_}};
    }

    void handle(const Json& request)
    {
        const std::string command = request.value("command", "");
        const Json args = request.contains("arguments") ? request["arguments"] : Json::object();
        try {
            if (command == "initialize")
                respond(request, true,
                        {{"supportsConfigurationDoneRequest", true},
                         {"supportsSteppingGranularity", true},
                         {"supportsEvaluateForHovers", true},
                         {"supportsTerminateRequest", true}});
            else if (command == "launch")
                launch(request, args);
            else if (command == "setBreakpoints")
                setBreakpoints(request, args);
            else if (command == "setExceptionBreakpoints")
                respond(request, true, {{"breakpoints", Json::array()}});
            else if (command == "configurationDone") {
                respond(request, true);
                if (session_)
                    session_->start();
            } else if (command == "threads") {
                const std::string name = session_ && session_->program().device
                                             ? std::string(session_->program().device->title)
                                             : std::string("chip");
                respond(request, true, {{"threads", Json::array({{{"id", ThreadId}, {"name", name}}})}});
            } else if (command == "stackTrace")
                stackTrace(request);
            else if (command == "scopes")
                respond(request, true,
                        {{"scopes", Json::array({{{"name", "Data stack"}, {"variablesReference", DataStackScope}, {"expensive", false}},
                                                 {{"name", "Variables"}, {"variablesReference", VariablesScope}, {"expensive", false}},
                                                 {{"name", "Loop stack"}, {"variablesReference", LoopStackScope}, {"expensive", false}},
                                                 {{"name", "Registers"}, {"variablesReference", RegistersScope}, {"expensive", false}}})}});
            else if (command == "variables")
                variables(request, args.value("variablesReference", 0));
            else if (command == "continue") {
                respond(request, true, {{"allThreadsContinued", true}});
                go([this] { session_->resume(); });
            } else if (command == "next") {
                respond(request, true);
                const bool byLine = args.value("granularity", "") == "line";
                go([this, byLine] { session_->stepOver(byLine); });
            } else if (command == "stepIn") {
                respond(request, true);
                go([this] { session_->stepIn(); });
            } else if (command == "stepOut") {
                respond(request, true);
                go([this] { session_->stepOut(); });
            } else if (command == "pause") {
                respond(request, true);
                if (session_)
                    session_->pause();
            } else if (command == "evaluate")
                evaluate(request, args.value("expression", ""));
            else if (command == "disconnect" || command == "terminate") {
                if (session_)
                    session_->terminate();
                respond(request, true);
                exited(1);
                done_ = command == "disconnect";
            } else
                respond(request, false, {}, "unknown request " + command);
        } catch (const Json::exception& e) {
            respond(request, false, {}, std::string("bad arguments: ") + e.what());
        }
    }

    // Runs the program on; once it has ended (after a fault), the session ends.
    template <class F>
    void go(F&& f)
    {
        if (!session_)
            return;
        if (session_->stopped() && sessionEnded_) {
            session_->terminate();
            exited(1);
            return;
        }
        f();
    }

    void launch(const Json& request, const Json& args)
    {
        program_ = args.value("program", "");
        if (program_.empty()) {
            respond(request, false, {}, "launch needs \"program\": the path of a .4th file");
            return;
        }
        LaunchOptions o;
        o.build.sourceFile = program_;
        o.build.runtimeDirs = setup_.runtimeDirs;
        o.build.archive = setup_.archive;
        if (args.contains("device")) {
            o.build.device = FindDevice(args["device"].get<std::string>());
            if (!o.build.device) {
                respond(request, false, {}, "unknown device " + args["device"].get<std::string>());
                return;
            }
        }
        o.build.cellBits = args.value("cells", 8);
        if (o.build.cellBits != 8 && o.build.cellBits != 16) {
            respond(request, false, {}, "\"cells\" is 8 or 16");
            return;
        }
        if (args.contains("varbeg"))
            o.build.varStart = args["varbeg"].get<std::string>();
        o.build.useZcall = args.value("zcall", false);
        o.build.optimise = args.value("opt", setup_.optimise);
        o.run.clockHz = args.value("clock", 0u);
        o.stopOnEntry = args.value("stopOnEntry", false);
        o.run.uartIn = args.value("uartIn", "");
        std::string error;
        const auto list = [&](const char* key) {
            std::vector<std::string> items;
            if (args.contains(key)) {
                if (args[key].is_string())
                    items.push_back(args[key].get<std::string>());
                else
                    for (const auto& v : args[key])
                        items.push_back(v.get<std::string>());
            }
            return items;
        };
        // Each item of the key's list read by `parse` into `into`; false at the first it cannot read.
        const auto parseAll = [&](const char* key, auto parse, auto& into) {
            for (const std::string& item : list(key)) {
                const auto value = parse(item, error);
                if (!value)
                    return false;
                into.push_back(*value);
            }
            return true;
        };
        if (!parseAll("pins", ParsePinStimulus, o.run.pins) || !parseAll("adc", ParseAdcStimulus, o.run.adc)) {
            respond(request, false, {}, error);
            return;
        }
        session_ = std::make_unique<DebugSession>([this](const DebugEvent& e) {
            if (e.kind == DebugEvent::Stopped && e.stop == StopKind::Exception)
                sessionEnded_ = true;
            onSessionEvent(e);
        });
        if (!session_->launch(o, error)) {
            for (const Diagnostic& d : session_->program().diagnostics)
                event("output", {{"category", "stderr"}, {"output", d.format() + "\n"}});
            respond(request, false, {}, error);
            session_.reset();
            return;
        }
        respond(request, true);
        event("initialized");
    }

    void setBreakpoints(const Json& request, const Json& args)
    {
        std::vector<std::int64_t> lines;
        if (args.contains("breakpoints"))
            for (const auto& b : args["breakpoints"])
                lines.push_back(b.value("line", 0));
        else if (args.contains("lines"))
            for (const auto& l : args["lines"])
                lines.push_back(l.get<std::int64_t>());
        const std::string path = args.contains("source") ? args["source"].value("path", "") : "";
        Json out = Json::array();
        std::error_code ec;
        const bool ours = session_ && !path.empty() && std::filesystem::equivalent(path, program_, ec);
        if (!ours) {
            for (const std::int64_t l : lines)
                out.push_back({{"verified", false}, {"line", l}, {"message", "not the program being debugged"}});
        } else {
            for (const Breakpoint& b : session_->setBreakpoints(lines)) {
                Json j{{"id", b.id}, {"verified", b.verified}, {"line", b.verified ? b.line : b.requested},
                       {"source", sourceOf()}};
                if (!b.message.empty())
                    j["message"] = b.message;
                out.push_back(std::move(j));
            }
        }
        respond(request, true, {{"breakpoints", out}});
    }

    void stackTrace(const Json& request)
    {
        Json frames = Json::array();
        if (session_) {
            int id = 0;
            for (const Frame& f : session_->stackTrace()) {
                Json j{{"id", id++}, {"name", f.interrupted ? f.name + " (interrupted)" : f.name},
                       {"line", f.line}, {"column", f.column ? f.column : 1}};
                if (f.line > 0)
                    j["source"] = sourceOf();
                else
                    j["presentationHint"] = "subtle";
                frames.push_back(std::move(j));
            }
        }
        respond(request, true, {{"stackFrames", frames}, {"totalFrames", frames.size()}});
    }

    static Json shown(const std::vector<Shown>& values, int tablesFrom)
    {
        Json out = Json::array();
        for (std::size_t i = 0; i < values.size(); ++i) {
            const Shown& v = values[i];
            out.push_back({{"name", v.name}, {"value", v.value}, {"evaluateName", v.name},
                           {"variablesReference", v.parts.empty() || tablesFrom < 0 ? 0 : tablesFrom + int(i)}});
        }
        return out;
    }

    void variables(const Json& request, int reference)
    {
        Json out = Json::array();
        if (session_) {
            switch (reference) {
            case DataStackScope: out = shown(session_->dataStack(), -1); break;
            case VariablesScope: out = shown(session_->variables(), TablesBase); break;
            case LoopStackScope: out = shown(session_->loopStack(), -1); break;
            case RegistersScope: out = shown(session_->registers(), -1); break;
            default:
                if (reference >= TablesBase) {
                    const auto vars = session_->variables();
                    const std::size_t i = std::size_t(reference - TablesBase);
                    if (i < vars.size())
                        out = shown(vars[i].parts, -1);
                }
            }
        }
        respond(request, true, {{"variables", out}});
    }

    void evaluate(const Json& request, const std::string& expression)
    {
        if (session_)
            if (const auto v = session_->evaluate(expression)) {
                respond(request, true, {{"result", v->value}, {"variablesReference", 0}});
                return;
            }
        respond(request, false, {}, "no variable or register named " + expression);
    }

    std::istream& in_;
    std::ostream& out_;
    const DapSetup& setup_;
    std::mutex outMutex_;                  // one message at a time on the output
    long seq_ = 1;                         // the next message's sequence number
    std::unique_ptr<DebugSession> session_; // the program under the debugger
    std::string program_;                  // its source path
    std::atomic<bool> sessionEnded_{false}; // it faulted: going on ends it
    std::atomic<bool> exitedSent_{false};  // exited and terminated have been sent
    bool done_ = false;                    // a disconnect came
};

} // namespace

int ServeDap(std::istream& in, std::ostream& out, const DapSetup& setup)
{
    // Reading would flush a tied output stream (standard input is tied to
    // standard output) outside the lock that keeps the session's events and
    // the responses apart: the same bytes could go out twice.
    std::ostream* const tied = in.tie(nullptr);
    Server server(in, out, setup);
    const int status = server.serve();
    in.tie(tied);
    return status;
}

} // namespace mirtolan
