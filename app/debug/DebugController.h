// The debugger behind the window: a DebugSession driven from the window's
// thread. The build runs on a worker thread, the program on the session's
// own; their events come back to the window's thread as queued calls, and
// every command only asks, so the window never waits on the program.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "DebugSession.h"

namespace mirtolan {

// What the program shows while it stands still, gathered at a stop.
struct DebugStop {
    StopKind kind = StopKind::Pause; // why it stopped
    std::string text;                // the fault, for an exception
    std::vector<Frame> frames;       // the words that led here, innermost first
    std::vector<Shown> dataStack;    // bottom first
    std::vector<Shown> loopStack;    // top first
    std::vector<Shown> variables;    // in order of definition
    std::vector<Shown> registers;    // the I/O registers the program wrote
    std::int64_t line = 0;           // the source line it stands at (that of the innermost word with one); 0 when none
};

class DebugController : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,     // no program under the debugger
        Building, // the program is being built
        Running,  // it runs
        Stopped,  // it stands still, to be looked into
    };

    explicit DebugController(QObject* parent = nullptr);
    ~DebugController() override; // ends the session and waits for a build

    State state() const { return state_; }
    // Builds `source` with `build` off the window's thread, then runs it to
    // the first breakpoint of `breakpoints` (or, with `stopOnEntry`, to
    // main's first word) with `run`'s clock, stimulus and board. Only when Idle.
    void start(BuildOptions build, LineList source, RunOptions run, std::vector<std::int64_t> breakpoints,
               bool stopOnEntry);
    // While stopped. After a fault, each ends the session instead.
    void resume();
    void stepOver(bool byLine);
    void stepIn();
    void stepOut();
    // While running.
    void pause();
    // Ends the session; `ended` follows at once, or when a running build has stopped.
    void stop();
    // Replaces the breakpoints; placed now when a session runs (`placed`
    // tells where), else at the next start.
    void setBreakpoints(std::vector<std::int64_t> lines);

    const BuildResult& build() const { return build_; }   // the last build, after `built`
    const std::string& sourceFile() const { return sourceFile_; } // the file the program was built as

signals:
    void stateChanged(mirtolan::DebugController::State state);
    void built(); // the build is done (see build()), before the program starts
    void failed(const QString& why);                 // the program could not be started
    void placed(const std::vector<mirtolan::Breakpoint>& breakpoints);
    void stopped(const mirtolan::DebugStop& stop);
    // The program has ended or was stopped; `last` is what it left, when it could be looked at.
    void ended(int exitCode, const QString& why, const mirtolan::DebugStop& last);

private:
    void setState(State s);
    void launched(bool ok, const std::string& error);
    void onEvent(std::uint64_t generation, const DebugEvent& e);
    DebugStop gather(StopKind kind, const std::string& text) const;
    void endSession(int exitCode, const QString& why);
    // A command may go on from a stop: the state becomes Running. After a fault it ends the session instead.
    bool goOn();

    State state_ = State::Idle;
    std::unique_ptr<DebugSession> session_; // the program under the debugger
    std::thread builder_;                   // launches the session (the build) off the window's thread
    std::atomic<bool> cancel_{false};       // stops that build
    bool stopAfterBuild_ = false;           // Stop came during the build
    bool faulted_ = false;                  // the program stands at a fault: going on ends it
    std::uint64_t generation_ = 0;          // the session's number: events of an earlier one are dropped
    std::vector<std::int64_t> breakpoints_; // the lines asked for
    BuildResult build_;                     // the last build
    std::string sourceFile_;                // the file it was built as
    LineList source_;                       // the lines it is built from, kept for the build
};

} // namespace mirtolan

Q_DECLARE_METATYPE(mirtolan::DebugStop)
