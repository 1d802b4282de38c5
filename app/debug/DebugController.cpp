#include "DebugController.h"

#include <QMetaObject>

namespace mirtolan {

DebugController::DebugController(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<mirtolan::DebugStop>();
}

DebugController::~DebugController()
{
    cancel_ = true;
    if (builder_.joinable())
        builder_.join();
    session_.reset();
}

void DebugController::setState(State s)
{
    if (s == state_)
        return;
    state_ = s;
    emit stateChanged(s);
}

void DebugController::start(BuildOptions build, LineList source, RunOptions run,
                            std::vector<std::int64_t> breakpoints, bool stopOnEntry)
{
    if (state_ != State::Idle)
        return;
    const std::uint64_t generation = ++generation_;
    breakpoints_ = std::move(breakpoints);
    faulted_ = false;
    stopAfterBuild_ = false;
    cancel_ = false;
    sourceFile_ = build.sourceFile;
    source_ = std::move(source);
    // The session's thread tells its events; they are looked at here, on the window's.
    session_ = std::make_unique<DebugSession>([this, generation](const DebugEvent& e) {
        QMetaObject::invokeMethod(this, [this, generation, e] { onEvent(generation, e); }, Qt::QueuedConnection);
    });
    LaunchOptions o;
    o.build = std::move(build);
    o.build.sourceText = &source_;
    o.build.cancel = &cancel_;
    o.run = std::move(run);
    o.stopOnEntry = stopOnEntry;
    setState(State::Building);
    builder_ = std::thread([this, o = std::move(o), session = session_.get()] {
        std::string error;
        const bool ok = session->launch(o, error);
        QMetaObject::invokeMethod(this, [this, ok, error] { launched(ok, error); }, Qt::QueuedConnection);
    });
}

void DebugController::launched(bool ok, const std::string& error)
{
    if (builder_.joinable())
        builder_.join();
    build_ = session_->program();
    emit built();
    if (stopAfterBuild_) {
        endSession(1, tr("stopped"));
        return;
    }
    if (!ok) {
        session_.reset();
        setState(State::Idle);
        emit failed(QString::fromLocal8Bit(error.c_str()));
        return;
    }
    emit placed(session_->setBreakpoints(breakpoints_));
    setState(State::Running);
    session_->start();
}

DebugStop DebugController::gather(StopKind kind, const std::string& text) const
{
    DebugStop s;
    s.kind = kind;
    s.text = text;
    s.frames = session_->stackTrace();
    s.dataStack = session_->dataStack();
    s.loopStack = session_->loopStack();
    s.variables = session_->variables();
    s.registers = session_->registers();
    for (const Frame& f : s.frames)
        if (f.line > 0) {
            s.line = f.line;
            break;
        }
    return s;
}

void DebugController::onEvent(std::uint64_t generation, const DebugEvent& e)
{
    if (generation != generation_ || !session_)
        return; // a session ended since
    switch (e.kind) {
    case DebugEvent::Stopped: {
        faulted_ = e.stop == StopKind::Exception;
        const DebugStop s = gather(e.stop, e.text);
        setState(State::Stopped);
        emit stopped(s);
        break;
    }
    case DebugEvent::Exited:
        endSession(e.exitCode, QString::fromLocal8Bit(e.text.c_str()));
        break;
    case DebugEvent::Output:
        break; // the board shows the UART text
    }
}

void DebugController::endSession(int exitCode, const QString& why)
{
    ++generation_; // what the session tells from now on is no news
    DebugStop last;
    if (session_) {
        session_->terminate();
        if (session_->stopped())
            last = gather(StopKind::Pause, {});
        session_.reset();
    }
    faulted_ = false;
    setState(State::Idle);
    emit ended(exitCode, why, last);
}

bool DebugController::goOn()
{
    if (state_ != State::Stopped)
        return false;
    if (faulted_) {
        endSession(1, tr("after the fault"));
        return false;
    }
    setState(State::Running);
    return true;
}

void DebugController::resume()
{
    if (goOn())
        session_->resume();
}

void DebugController::stepOver(bool byLine)
{
    if (goOn())
        session_->stepOver(byLine);
}

void DebugController::stepIn()
{
    if (goOn())
        session_->stepIn();
}

void DebugController::stepOut()
{
    if (goOn())
        session_->stepOut();
}

void DebugController::pause()
{
    if (state_ == State::Running)
        session_->pause();
}

void DebugController::stop()
{
    switch (state_) {
    case State::Idle:
        return;
    case State::Building:
        // The build stops soon; `launched` then ends the session.
        stopAfterBuild_ = true;
        cancel_ = true;
        return;
    case State::Running:
    case State::Stopped:
        endSession(1, tr("stopped"));
        return;
    }
}

void DebugController::setBreakpoints(std::vector<std::int64_t> lines)
{
    breakpoints_ = std::move(lines);
    if (session_ && (state_ == State::Running || state_ == State::Stopped))
        emit placed(session_->setBreakpoints(breakpoints_));
}

} // namespace mirtolan
