#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>
#include <exception>

#include "Settings.h"
#include "SourceEditor.h"
#include "TextFile.h"

namespace mirtolan {

namespace {

const QString Caption = QStringLiteral("Mirtolan compiler , Version 1.3");
const QString SourceFilter = QStringLiteral("Forth source(*.4th);;All files (*.*)");

// The window's design size; only the position is stored in the settings.
constexpr int DesignWidth = 645;
constexpr int DesignHeight = 467;

// How many files File > Recent files remembers.
constexpr int MaxRecentFiles = 8;

// A stored position counts as visible when this much of the window's top
// strip (where the title bar is grabbed) lies on some screen.
constexpr int MinVisibleWidth = 60;
constexpr int MinVisibleHeight = 20;

// The settings file's sections and keys, and the defaults of a first start.
namespace ini {
constexpr const char* Compile = "Compile";
constexpr const char* FormPosi = "FormPosi";
constexpr const char* Recent = "Recent";
constexpr const char* Header = "Header";
constexpr const char* Zcall = "Zcall";
constexpr const char* Dir = "dir";
constexpr const char* VarBeg = "VarBeg";
constexpr const char* Top = "Top";
constexpr const char* Left = "Left";
constexpr const char* RecentKey = "File"; // File1 .. File8
constexpr bool DefaultHeader = true;
constexpr bool DefaultZcall = false;
constexpr const char* DefaultDir = "c:";
constexpr const char* DefaultVarBeg = "81";
constexpr int DefaultTop = 80;
constexpr int DefaultLeft = 80;
} // namespace ini

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

std::string Bytes(const QString& s) {
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// File names are the file system's bytes; Qt decodes them the same way.
std::string FileBytes(const QString& path) {
    const QByteArray b = QFile::encodeName(path);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString FileText(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// Failure texts mix file names (UTF-8 here) with source text (8-bit): show
// them as UTF-8 when they are, byte for byte otherwise.
QString ErrorText(const char* what) {
    const QString utf8 = QString::fromUtf8(what);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(what) : utf8;
}

} // namespace

std::string DirectoryPart(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

FormEnvironment FormEnvironment::Default() {
    FormEnvironment env;
    env.message = [](QWidget* parent, Box kind, const QString& text, QMessageBox::StandardButtons buttons) {
        QMessageBox box(kind == Box::Error ? QMessageBox::Critical : QMessageBox::Question, Caption, text, buttons,
                        parent);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
    env.openFileName = [](QWidget* parent, const QString& dir, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), dir, filter);
    };
    env.saveFileName = [](QWidget* parent, const QString& dir, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), dir, filter);
    };
    env.exeDir = QCoreApplication::applicationDirPath();
    env.exeName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    env.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    env.home = qEnvironmentVariable("HOME");
    return env;
}

TForm1::TForm1(FormEnvironment env, QWidget* parent) : QMainWindow(parent), env_(std::move(env)) {
    setObjectName(QStringLiteral("Form1"));
    buildWindow();
    buildMenus();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildWindow() {
    resize(DesignWidth, DesignHeight);
    setAcceptDrops(true);

    Panel1 = new QToolBar(QStringLiteral("Panel1"), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setMovable(false);
    Panel1->setFloatable(false);
    addToolBar(Qt::TopToolBarArea, Panel1);

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton1->setToolTip(QStringLiteral("open file"));
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    Panel1->addWidget(SpeedButton1);

    Compile = new QPushButton(QStringLiteral("Compile"), Panel1);
    Compile->setToolTip(QStringLiteral("compile"));
    Compile->setEnabled(false);
    connect(Compile, &QPushButton::clicked, this, &TForm1::CompileClick);
    Panel1->addWidget(Compile);

    Zcall = new QCheckBox(QStringLiteral("Use Zcall"), Panel1);
    Panel1->addWidget(Zcall);
    CheckBox1 = new QCheckBox(QStringLiteral("Include Header"), Panel1);
    CheckBox1->setChecked(true);
    Panel1->addWidget(CheckBox1);

    VarBeg = new QLabel(QStringLiteral("VarBeg $"), Panel1);
    Panel1->addWidget(VarBeg);
    EdVarBeg = new QLineEdit(QStringLiteral("81"), Panel1);
    EdVarBeg->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 12);
    VarBeg->setBuddy(EdVarBeg);
    Panel1->addWidget(EdVarBeg);

    Button1 = new QPushButton(QStringLiteral("Filt"), Panel1);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    Panel1->addWidget(Button1)->setVisible(false);

    Source = new SourceEditor(this);
    Source->setLineWrapMode(QPlainTextEdit::NoWrap);
    highlighter_ = new ForthHighlighter(Source->document());
    connect(Source, &SourceEditor::sourceFileDropped, this, &TForm1::OpenFileAsking);
    connect(Source->document(), &QTextDocument::modificationChanged, this, &QWidget::setWindowModified);

    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleHint(QFont::TypeWriter); // where no monospace family is installed, ask for one by kind
    fixed.setFixedPitch(true);
    Source->setFont(fixed);
    AsmTxt = new QPlainTextEdit(this);
    AsmTxt->setLineWrapMode(QPlainTextEdit::NoWrap);
    AsmTxt->setFont(fixed);
    AsmTxt->setAcceptDrops(false); // a dropped file goes to the window, not into the listing
    // Assembler text is laid out with tabs at every eighth column.
    const qreal tabStop = 8 * QFontMetricsF(fixed).horizontalAdvance(QLatin1Char(' '));
    Source->setTabStopDistance(tabStop);
    AsmTxt->setTabStopDistance(tabStop);

    Label1 = new QLabel(QStringLiteral("Errors, Compile Messages"), this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    ErrorMemo = new QPlainTextEdit(this);
    ErrorMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ErrorMemo->setAcceptDrops(false);
    ErrorMemo->viewport()->installEventFilter(this);
    ErrorMemo->setToolTip(QStringLiteral("double-click a message to go to its line"));

    auto* left = new QSplitter(Qt::Vertical);
    left->addWidget(Source);
    left->addWidget(AsmTxt);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(4, 0, 0, 0);
    rightLayout->addWidget(Label1);
    rightLayout->addWidget(ErrorMemo);
    auto* columns = new QSplitter(Qt::Horizontal);
    columns->addWidget(left);
    columns->addWidget(right);
    columns->setStretchFactor(0, 3);
    columns->setStretchFactor(1, 2);
    setCentralWidget(columns);

    FindBar = new QToolBar(QStringLiteral("Find"), this);
    FindBar->setMovable(false);
    FindBar->addWidget(new QLabel(QStringLiteral("Find: "), FindBar));
    FindText = new QLineEdit(FindBar);
    connect(FindText, &QLineEdit::returnPressed, this, &TForm1::FindNext);
    FindBar->addWidget(FindText);
    FindBar->addAction(QStringLiteral("Next"), this, &TForm1::FindNext);
    FindBar->addAction(QStringLiteral("Previous"), this, &TForm1::FindPrevious);
    FindBar->addAction(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), FindBar,
                       &QWidget::hide);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), FindBar);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, FindBar, &QWidget::hide);
    addToolBar(Qt::BottomToolBarArea, FindBar);
    FindBar->hide();

    statusBar()->showMessage(QStringLiteral("Open a Forth source to compile it."));
    updateTitle();
}

void TForm1::buildMenus() {
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    Open1 = File1->addAction(QStringLiteral("&Open"), this, &TForm1::Open1Click);
    Open1->setShortcut(QKeySequence::Open);
    Save1 = File1->addAction(QStringLiteral("&Save"), this, &TForm1::Save);
    Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveAs1 = File1->addAction(QStringLiteral("Save &As..."), this, &TForm1::SaveAs);
    SaveAs1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    Recent1 = File1->addMenu(QStringLiteral("&Recent files"));
    File1->addSeparator();
    Quit1 = File1->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    Quit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* edit = MainMenu1->addMenu(QStringLiteral("&Edit"));
    Find1 = edit->addAction(QStringLiteral("&Find..."), this, &TForm1::ShowFind);
    Find1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    FindNext1 = edit->addAction(QStringLiteral("Find &next"), this, &TForm1::FindNext);
    FindNext1->setShortcut(QKeySequence(Qt::Key_F3));
    FindPrev1 = edit->addAction(QStringLiteral("Find &previous"), this, &TForm1::FindPrevious);
    FindPrev1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));

    QMenu* compile = MainMenu1->addMenu(QStringLiteral("&Compile"));
    CompileAction = compile->addAction(QStringLiteral("&Compile"), this, &TForm1::CompileClick);
    CompileAction->setShortcut(QKeySequence(Qt::Key_F9));
    CompileAction->setEnabled(false);
}

void TForm1::FormCreate() {
    c_.archive.clear();
    loadArchive();
    readSettings();
}

void TForm1::loadArchive() {
    QString failure;
    try {
        ReadArchFile(c_);
        return;
    } catch (const std::exception& e) {
        failure = ErrorText(e.what());
    }
    // Not in the working directory: the archive shipped with the program.
    const QString shipped = QDir::cleanPath(env_.exeDir + QStringLiteral("/../share/mirtolan/Mirtolan.arch"));
    if (QFileInfo::exists(shipped)) {
        try {
            ReadArchFile(c_, FileBytes(shipped));
            return;
        } catch (const std::exception& e) {
            failure = ErrorText(e.what());
        }
    }
    showError(failure);
}

void TForm1::readSettings() {
    settingsPath_ = SettingsFilePath({FileBytes(env_.exeDir), FileBytes(env_.exeName), FileBytes(env_.xdgConfigHome),
                                      FileBytes(env_.home)});
    IniFile settings;
    try {
        settings.Load(settingsPath_);
    } catch (const std::exception& e) {
        showError(ErrorText(e.what())); // the defaults below then stand
    }
    CheckBox1->setChecked(settings.ReadBool(ini::Compile, ini::Header, ini::DefaultHeader));
    Zcall->setChecked(settings.ReadBool(ini::Compile, ini::Zcall, ini::DefaultZcall));
    lastDir_ = settings.ReadString(ini::Compile, ini::Dir, ini::DefaultDir);
    EdVarBeg->setText(Latin1(settings.ReadString(ini::Compile, ini::VarBeg, ini::DefaultVarBeg)));
    const int top = settings.ReadInteger(ini::FormPosi, ini::Top, ini::DefaultTop);
    const int left = settings.ReadInteger(ini::FormPosi, ini::Left, ini::DefaultLeft);
    placeOnScreen(left, top);

    recent_.clear();
    for (int i = 1; i <= MaxRecentFiles; ++i) {
        const std::string key = std::string(ini::RecentKey) + std::to_string(i);
        const std::string file = settings.ReadString(ini::Recent, key, "");
        if (!file.empty() && !recent_.contains(FileText(file))) recent_.append(FileText(file));
    }
    rebuildRecentMenu();
}

void TForm1::placeOnScreen(int left, int top) {
    const QRect strip(left, top, width(), MinVisibleHeight);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect seen = strip.intersected(screen->availableGeometry());
        if (seen.width() >= MinVisibleWidth && seen.height() >= MinVisibleHeight) {
            move(left, top);
            return;
        }
    }
    // A monitor since removed, or a hand-edited value: put it where it can be seen.
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        move(left, top);
        return;
    }
    const QRect avail = primary->availableGeometry();
    const int x = qMax(avail.left(), qMin(avail.left() + ini::DefaultLeft, avail.right() - width()));
    const int y = qMax(avail.top(), qMin(avail.top() + ini::DefaultTop, avail.bottom() - height()));
    move(x, y);
}

void TForm1::updateTitle() {
    if (c_.SourceFileName.empty())
        setWindowTitle(Caption + QStringLiteral("[*]"));
    else
        setWindowTitle(QFileInfo(FileText(c_.SourceFileName)).fileName() + QStringLiteral("[*] - ") + Caption);
    setWindowModified(Source->document()->isModified());
}

void TForm1::showError(const QString& text) {
    if (env_.message) env_.message(this, FormEnvironment::Box::Error, text, QMessageBox::Ok);
}

QMessageBox::StandardButton TForm1::ask(const QString& text, QMessageBox::StandardButtons buttons) {
    if (!env_.message) return QMessageBox::Cancel;
    return env_.message(this, FormEnvironment::Box::Question, text, buttons);
}

bool TForm1::OpenFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::string name = FileBytes(absolute);
    std::vector<std::string> lines;
    try {
        lines = ReadLines(name);
    } catch (const std::exception& e) {
        // The old file name stays, so a later save never writes this text over the unread file.
        showError(ErrorText(e.what()));
        return false;
    }
    c_.SourceFileName = name;
    Source->setPlainText(LinesToText(lines));
    Source->document()->setModified(false);
    Compile->setEnabled(true);
    CompileAction->setEnabled(true);
    lastDir_ = DirectoryPart(name);
    rememberRecent(absolute);
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Opened %1 (%2 lines)").arg(absolute).arg(lines.size()));
    return true;
}

bool TForm1::OpenFileAsking(const QString& path) {
    if (!maybeSave()) return false;
    return OpenFile(path);
}

void TForm1::Open1Click() {
    if (!maybeSave()) return;
    QString dir = FileText(lastDir_);
    if (!QFileInfo(dir).isDir()) dir.clear(); // e.g. the first start's "c:": the dialog picks its own
    const QString path = env_.openFileName ? env_.openFileName(this, dir, SourceFilter) : QString();
    if (path.isEmpty()) return;
    OpenFile(path);
}

void TForm1::SpeedButton1Click() { Open1Click(); }

bool TForm1::maybeSave() {
    if (!Source->document()->isModified()) return true;
    const QString name = c_.SourceFileName.empty() ? QStringLiteral("the source")
                                                   : QFileInfo(FileText(c_.SourceFileName)).fileName();
    switch (ask(QStringLiteral("Save changes to %1?").arg(name),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Save();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TForm1::saveTo(const std::string& path) {
    WriteLinesSafely(path, DocumentLines(*Source->document()));
}

bool TForm1::Save() {
    if (c_.SourceFileName.empty()) return SaveAs();
    try {
        saveTo(c_.SourceFileName);
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return false;
    }
    Source->document()->setModified(false);
    statusBar()->showMessage(QStringLiteral("Saved %1").arg(FileText(c_.SourceFileName)));
    return true;
}

bool TForm1::SaveAs() {
    QString dir = c_.SourceFileName.empty() ? FileText(lastDir_) : FileText(c_.SourceFileName);
    if (!QFileInfo(dir).exists()) dir.clear();
    const QString path = env_.saveFileName ? env_.saveFileName(this, dir, SourceFilter) : QString();
    if (path.isEmpty()) return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    try {
        saveTo(FileBytes(absolute));
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return false;
    }
    c_.SourceFileName = FileBytes(absolute);
    lastDir_ = DirectoryPart(c_.SourceFileName);
    Source->document()->setModified(false);
    Compile->setEnabled(true);
    CompileAction->setEnabled(true);
    rememberRecent(absolute);
    updateTitle();
    return true;
}

void TForm1::chksave() {
    if (!Source->document()->isModified()) return;
    if (ask(QStringLiteral("Save change befor compile?"), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        saveTo(c_.SourceFileName); // a failure leaves the mark set, so the question comes again
    Source->document()->setModified(false);
}

void TForm1::CompileClick() {
    // F9 reaches here too; before a file is open there is nothing to compile into.
    if (compiling_ || !Compile->isEnabled()) return;
    try {
        chksave();
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return;
    }
    c_.UseZcall = Zcall->isChecked();
    c_.IncludeHeader = CheckBox1->isChecked();
    c_.VarStart = Bytes(EdVarBeg->text());
    c_.ProcessEvents = [this] {
        AsmTxt->clear();
        ErrorMemo->clear();
        // Repaint the emptied panes, but take no input, so nothing can start a second compile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    const std::vector<std::string> lines = DocumentLines(*Source->document());

    compiling_ = true;
    QElapsedTimer timer;
    timer.start();
    QString failure;
    try {
        mirtolan::CompileClick(c_, lines);
    } catch (const std::exception& e) {
        failure = ErrorText(e.what());
    }
    const qint64 ms = timer.elapsed();
    compiling_ = false;

    AsmTxt->setPlainText(LinesToText(c_.Listing));
    ErrorMemo->setPlainText(LinesToText(c_.Messages));
    Zcall->setChecked(c_.UseZcall);
    if (failure.isEmpty()) {
        const std::size_t problems = SourceMessageCount(c_);
        statusBar()->showMessage(QStringLiteral("Compiled %1 lines, %2 message%3, wrote %4 in %5 ms")
                                     .arg(lines.size())
                                     .arg(problems)
                                     .arg(problems == 1 ? QString() : QStringLiteral("s"))
                                     .arg(FileText(c_.AsmFileName))
                                     .arg(ms));
    } else {
        statusBar()->showMessage(QStringLiteral("Compile abandoned after %1 ms: %2").arg(ms).arg(failure));
        showError(failure);
    }
    if (closeWhenCompiled_) {
        closeWhenCompiled_ = false;
        close();
    }
}

void TForm1::Button1Click() {
    // The label filter works on the program code of a running compile; outside
    // one there is no such list, so there is nothing to filter.
}

void TForm1::FormClose() {
    c_.archive.clear();
    IniFile settings;
    try {
        settings.Load(settingsPath_); // lines we do not own are written back as they were
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()) + QStringLiteral("\nThe settings were not saved."));
        return;
    }
    settings.WriteBool(ini::Compile, ini::Header, CheckBox1->isChecked());
    settings.WriteBool(ini::Compile, ini::Zcall, Zcall->isChecked());
    settings.WriteString(ini::Compile, ini::Dir, lastDir_);
    settings.WriteString(ini::Compile, ini::VarBeg, Bytes(EdVarBeg->text()));
    settings.WriteInteger(ini::FormPosi, ini::Top, pos().y());
    settings.WriteInteger(ini::FormPosi, ini::Left, pos().x());
    settings.EraseKeys(ini::Recent);
    for (int i = 0; i < recent_.size(); ++i)
        settings.WriteString(ini::Recent, std::string(ini::RecentKey) + std::to_string(i + 1), FileBytes(recent_[i]));
    try {
        settings.Save(settingsPath_);
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (compiling_) {
        closeWhenCompiled_ = true;
        event->ignore();
        return;
    }
    if (!maybeSave()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TForm1::rememberRecent(const QString& path) {
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > MaxRecentFiles) recent_.removeLast();
    rebuildRecentMenu();
}

void TForm1::rebuildRecentMenu() {
    Recent1->clear();
    for (int i = 0; i < recent_.size(); ++i) {
        const QString path = recent_[i];
        QAction* a = Recent1->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        a->setToolTip(path);
        a->setStatusTip(path);
        connect(a, &QAction::triggered, this, [this, path] { OpenFileAsking(path); });
    }
    Recent1->setEnabled(!recent_.isEmpty());
}

bool TForm1::GoToMessageLine(const QString& message) {
    static const QRegularExpression lineRef(QStringLiteral("Line\\s*(\\d+)"));
    QRegularExpressionMatchIterator it = lineRef.globalMatch(message);
    QRegularExpressionMatch last;
    while (it.hasNext()) last = it.next();
    if (!last.hasMatch()) return false;
    bool ok = false;
    const int line = last.captured(1).toInt(&ok);
    if (!ok) return false; // a number beyond int names no line of any pane
    Source->goToLine(line);
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ErrorMemo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QTextCursor at = ErrorMemo->cursorForPosition(mouse->position().toPoint());
        if (GoToMessageLine(at.block().text())) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedSourceFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = DroppedSourceFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    OpenFileAsking(path);
}

void TForm1::ShowFind() {
    FindBar->show();
    const QString selected = Source->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) FindText->setText(selected);
    FindText->selectAll();
    FindText->setFocus();
}

bool TForm1::find(bool backward) {
    const QString text = FindText->text();
    if (text.isEmpty()) {
        ShowFind();
        return false;
    }
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (Source->find(text, flags)) return true;
    // Wrap around once, as editors do.
    const QTextCursor keep = Source->textCursor();
    QTextCursor from(Source->document());
    from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    Source->setTextCursor(from);
    if (Source->find(text, flags)) return true;
    Source->setTextCursor(keep);
    statusBar()->showMessage(QStringLiteral("\"%1\" not found").arg(text));
    return false;
}

void TForm1::FindNext() { find(false); }
void TForm1::FindPrevious() { find(true); }

} // namespace mirtolan
