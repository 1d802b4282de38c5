#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemWatcher>
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
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <exception>
#include <numeric>
#include <optional>
#include <utility>

#include <QComboBox>
#include <QProgressBar>

#include "BuildController.h"
#include "FindReplaceBar.h"
#include "ForthWords.h"
#include "HelpText.h"
#include "ListingView.h"
#include "MessagePane.h"
#include "Settings.h"
#include "SourceEditor.h"
#include "TextFile.h"

namespace mirtolan {

namespace {

const QString Caption = QStringLiteral("Mirtolan compiler , Version 1.3");
const QString SourceFilter = QStringLiteral("Forth source(*.4th);;All files (*.*)");

// The window's design size, the first start's size.
constexpr int DesignWidth = 645;
constexpr int DesignHeight = 467;
// A stored size smaller than this is a damaged setting, not a choice.
constexpr int MinStoredWidth = 200;
constexpr int MinStoredHeight = 150;

// Zoom steps are points added to the panes' font; beyond these the text is
// unreadable or a few words fill the pane.
constexpr int MinZoom = -6;
constexpr int MaxZoom = 30;

// What New puts in an untitled source: a main word to fill in.
constexpr const char* NewSourceTemplate = "\\\\ A new program\n"
                                          "\n"
                                          ": main ( -- )\n"
                                          "  BEGIN\n"
                                          "  AGAIN ;\n";
const QString UntitledName = QStringLiteral("untitled.4th");
const QString NothingToCompile =
    QStringLiteral("Nothing to compile yet: type a program, or open one (File > Open, File > Examples)");

// How many files File > Recent files remembers.
constexpr int MaxRecentFiles = 8;

// Another program's save often comes as several changes (truncate, write,
// rename): the window looks once they have settled for this long.
constexpr int DiskSettleMs = 100;

// Where the shipped run-time lies beside the program's bin/, and the
// examples in it.
const QString ShareDirBesideBin = QStringLiteral("/../share/mirtolan");
const QString ExamplesFolder = QStringLiteral("/examples");

// The device of a first start: the ATmega328P of the Arduino Uno, the board
// most people begin with. Settings files from before keep the ATmega32.
constexpr const char* FirstStartDevice = "atmega328p";

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
constexpr const char* Build = "Build";   // the section of the build's settings
constexpr const char* Device = "Device"; // the device builds are for, by its name
constexpr const char* Cells = "Cells";   // [Build]: the size of a cell, 8 or 16
constexpr const char* Optimise = "Optimise"; // [Build]: compile with the optimiser (1) or not (0)
constexpr const char* Top = "Top";
constexpr const char* Left = "Left";
constexpr const char* RecentKey = "File"; // File1 .. File8
constexpr const char* Width = "Width";
constexpr const char* Height = "Height";
constexpr const char* View = "View";
constexpr const char* Zoom = "Zoom";
constexpr const char* Columns = "Columns";       // widths of the editor column and the message column
constexpr const char* EditorSplit = "EditorSplit"; // heights of the editor and the panes below it
constexpr bool DefaultHeader = true;
constexpr bool DefaultZcall = false;
constexpr const char* DefaultDir = "c:";
constexpr const char* DefaultVarBeg = "81";
constexpr int DefaultTop = 80;
constexpr int DefaultLeft = 80;
constexpr const char* TabFocus = "TabFocus"; // [View]: Tab in the editor moves the focus on
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

// VarBeg below the device's SRAM (the ATmega32's 81 kept while another
// device is chosen) would put the variables over its registers: a build
// uses the device's own start then, and its summary says so.
bool BelowSram(const QString& varBeg, const Device& device) {
    bool ok = false;
    const uint start = varBeg.trimmed().toUInt(&ok, 16);
    return ok && start < device.sramStart;
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
    env.tempDir = QDir::tempPath();
    env.compileOnWorker = true;
    return env;
}

TForm1::TForm1(FormEnvironment env, QWidget* parent) : QMainWindow(parent), env_(std::move(env)) {
    setObjectName(QStringLiteral("Form1"));
    buildWindow();
    buildMenus();
    FormCreate();
    // Typing right after start goes to the editor.
    setFocusProxy(Source);
    Source->setFocus();
}

TForm1::~TForm1() {
    // The compile works on c_, which goes with the window.
    if (worker_) worker_->wait();
}

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
    connect(Compile, &QPushButton::clicked, this, &TForm1::CompileClick);
    Panel1->addWidget(Compile);

    Zcall = new QCheckBox(QStringLiteral("Use Zcall"), Panel1);
    Zcall->setToolTip(QStringLiteral("Calls and jumps are written as the long Zcall/Zjmp instead of rcall/rjmp, "
                                     "for programs larger than rcall reaches (USEZCALL and USERCALL in the source "
                                     "switch it too)"));
    Panel1->addWidget(Zcall);
    CheckBox1 = new QCheckBox(QStringLiteral("Include Header"), Panel1);
    CheckBox1->setChecked(true);
    CheckBox1->setToolTip(QStringLiteral("The listing starts with the lines that include the run-time header "
                                         "4thHead.asm, so avra assembles it into a complete program"));
    Panel1->addWidget(CheckBox1);

    VarBeg = new QLabel(QStringLiteral("VarBeg $"), Panel1);
    Panel1->addWidget(VarBeg);
    EdVarBeg = new QLineEdit(QStringLiteral("81"), Panel1);
    EdVarBeg->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 12);
    const QString varBegTip = QStringLiteral("The first data-memory address (hexadecimal) given to VARIABLEs; "
                                             "each takes one byte from here upwards");
    VarBeg->setToolTip(varBegTip);
    EdVarBeg->setToolTip(varBegTip);
    VarBeg->setBuddy(EdVarBeg);
    Panel1->addWidget(EdVarBeg);

    DeviceLabel = new QLabel(QStringLiteral(" Device "), Panel1);
    Panel1->addWidget(DeviceLabel);
    DeviceBox = new QComboBox(Panel1);
    for (const Device& d : Devices())
        DeviceBox->addItem(QString::fromLatin1(d.title.data(), qsizetype(d.title.size())),
                           QString::fromLatin1(d.name.data(), qsizetype(d.name.size())));
    DeviceBox->setToolTip(QStringLiteral("The microcontroller that Build (Ctrl+B) makes a .hex for: its run-time "
                                         "header, its register names, and its first free SRAM address as VarBeg"));
    DeviceLabel->setBuddy(DeviceBox);
    connect(DeviceBox, &QComboBox::activated, this, [this](int) {
        // The chosen device's variables start where its SRAM does.
        EdVarBeg->setText(QString::fromLatin1(ChosenDevice().varStart.data(), qsizetype(ChosenDevice().varStart.size())));
    });
    Panel1->addWidget(DeviceBox);

    CellsLabel = new QLabel(QStringLiteral(" Cells "), Panel1);
    Panel1->addWidget(CellsLabel);
    CellsBox = new QComboBox(Panel1);
    CellsBox->setObjectName(QStringLiteral("CellsBox"));
    for (const int bits : {ByteCellBits, WideCellBits})
        CellsBox->addItem(QString::number(bits), bits);
    CellsBox->setToolTip(QStringLiteral("The size of a cell: 8 bits, or the 16 bits of other AVR Forths. "
                                        "A source that says USE16BIT or USE8BIT at its top has its way"));
    CellsLabel->setBuddy(CellsBox);
    Panel1->addWidget(CellsBox);

    OptimiseBox = new QCheckBox(QStringLiteral("Optimise"), Panel1);
    OptimiseBox->setObjectName(QStringLiteral("OptimiseBox"));
    OptimiseBox->setToolTip(QStringLiteral("Faster, smaller code: cells kept in registers, words inlined, constants "
                                           "folded (mirtolanc --opt). Inline assembler may then keep values across "
                                           "words only in r2-r7"));
    Panel1->addWidget(OptimiseBox);

    Button1 = new QPushButton(QStringLiteral("Filt"), Panel1);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    Panel1->addWidget(Button1)->setVisible(false);

    Source = new SourceEditor(this);
    Source->setObjectName(QStringLiteral("Source"));
    Source->setLineWrapMode(QPlainTextEdit::NoWrap);
    highlighter_ = new ForthHighlighter(Source->document());
    Source->setHighlighter(highlighter_);
    connect(Source, &SourceEditor::sourceFileDropped, this, &TForm1::OpenFileAsking);
    connect(Source->document(), &QTextDocument::modificationChanged, this, &QWidget::setWindowModified);
    connect(Source, &QPlainTextEdit::cursorPositionChanged, this, &TForm1::showPosition);
    connect(Source, &SourceEditor::zoomRequested, this, &TForm1::ZoomBy);

    watcher_ = new QFileSystemWatcher(this);
    diskCheck_ = new QTimer(this);
    diskCheck_->setSingleShot(true);
    diskCheck_->setInterval(DiskSettleMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, diskCheck_, qOverload<>(&QTimer::start));
    connect(diskCheck_, &QTimer::timeout, this, &TForm1::CheckDisk);

    baseFont_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    baseFont_.setStyleHint(QFont::TypeWriter); // where no monospace family is installed, ask for one by kind
    baseFont_.setFixedPitch(true);
    AsmTxt = new ListingView(this);
    AsmTxt->setObjectName(QStringLiteral("AsmTxt"));
    AsmTxt->setAcceptDrops(false); // a dropped file goes to the window, not into the listing
    connect(AsmTxt, &ListingView::zoomRequested, this, &TForm1::ZoomBy);

    Label1 = new QLabel(QStringLiteral("Errors, Compile Messages"), this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    ErrorMemo = new MessagePane(this);
    ErrorMemo->setObjectName(QStringLiteral("ErrorMemo"));
    ErrorMemo->setAcceptDrops(false);
    ErrorMemo->setToolTip(QStringLiteral("double-click a message (or press Enter on it) to go to its line; "
                                         "F4 and Shift+F4 step through them"));
    // To the line the message named, or where edits since have moved it.
    connect(ErrorMemo, &MessagePane::lineActivated, this,
            [this](int line, int block) { Source->goToLine(Source->messageLine(block).value_or(line)); });
    connect(ErrorMemo, &MessagePane::messagesChanged, this, &TForm1::refreshMarks);
    connect(ErrorMemo, &MessagePane::zoomRequested, this, &TForm1::ZoomBy);
    applyZoom();

    Panes = new QTabWidget;
    Panes->setObjectName(QStringLiteral("Panes"));
    Panes->addTab(AsmTxt, QStringLiteral("Listing"));
    EditorSplit = new QSplitter(Qt::Vertical);
    EditorSplit->setObjectName(QStringLiteral("EditorSplit"));
    EditorSplit->addWidget(Source);
    EditorSplit->addWidget(Panes);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(4, 0, 0, 0);
    rightLayout->addWidget(Label1);
    rightLayout->addWidget(ErrorMemo);
    Columns = new QSplitter(Qt::Horizontal);
    Columns->setObjectName(QStringLiteral("Columns"));
    Columns->addWidget(EditorSplit);
    Columns->addWidget(right);
    Columns->setStretchFactor(0, 3);
    Columns->setStretchFactor(1, 2);
    setCentralWidget(Columns);

    FindBar = new FindReplaceBar(Source, this);
    FindText = FindBar->findText();
    ReplaceText = FindBar->replaceText();
    MatchCase = FindBar->matchCase();
    WholeWords = FindBar->wholeWords();
    connect(FindBar, &FindReplaceBar::report, this, [this](const QString& text) { statusBar()->showMessage(text); });
    connect(FindBar, &FindReplaceBar::closed, Source, qOverload<>(&QWidget::setFocus));
    addToolBar(Qt::BottomToolBarArea, FindBar);
    FindBar->hide();

    Position = new QLabel(this);
    statusBar()->addPermanentWidget(Position);
    showPosition();
    statusBar()->showMessage(QStringLiteral("Type a program and press F9 to compile it, or open one "
                                            "(File > Open, File > Examples)."));
    updateTitle();
}

namespace {
// One menu item: where it goes, what it says, its keys and what it does.
struct ActionEntry {
    const char* menu;                  // title of its menu
    const char* text;                  // the item's text, with its & accelerator
    QKeySequence::StandardKey standard; // platform keys, or UnknownKey
    std::array<QKeyCombination, 2> keys; // further keys; an empty combination is none
    QAction* TForm1::*field;           // where the window keeps the action
    void (TForm1::*handler)();         // what it runs; null: bound after the table
    bool separatorBefore;              // a line above it in the menu
};

constexpr QKeyCombination NoKey{};

// The window's menus, in order. Other tools' actions come through AddAction.
const ActionEntry WindowActions[] = {
    {"&File", "&New", QKeySequence::New, {NoKey, NoKey}, &TForm1::New1, &TForm1::NewFile, false},
    {"&File", "&Open", QKeySequence::Open, {NoKey, NoKey}, &TForm1::Open1, &TForm1::Open1Click, false},
    {"&File", "&Save", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_S, NoKey}, &TForm1::Save1, nullptr, false},
    {"&File", "Save &As...", QKeySequence::UnknownKey, {Qt::CTRL | Qt::SHIFT | Qt::Key_S, NoKey}, &TForm1::SaveAs1,
     nullptr, false},
    {"&File", "&Quit", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Q, NoKey}, &TForm1::Quit1, nullptr, true},
    {"&Edit", "&Undo", QKeySequence::Undo, {NoKey, NoKey}, &TForm1::Undo1, nullptr, false},
    {"&Edit", "&Redo", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z},
     &TForm1::Redo1, nullptr, false},
    {"&Edit", "Cu&t", QKeySequence::Cut, {NoKey, NoKey}, &TForm1::Cut1, nullptr, true},
    {"&Edit", "&Copy", QKeySequence::Copy, {NoKey, NoKey}, &TForm1::Copy1, nullptr, false},
    {"&Edit", "&Paste", QKeySequence::Paste, {NoKey, NoKey}, &TForm1::Paste1, nullptr, false},
    {"&Edit", "Select &All", QKeySequence::SelectAll, {NoKey, NoKey}, &TForm1::SelectAll1, nullptr, false},
    {"&Edit", "&Find...", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_F, NoKey}, &TForm1::Find1,
     &TForm1::ShowFind, true},
    {"&Edit", "Find &next", QKeySequence::UnknownKey, {Qt::Key_F3, NoKey}, &TForm1::FindNext1, &TForm1::FindNext,
     false},
    {"&Edit", "Find &previous", QKeySequence::UnknownKey, {Qt::SHIFT | Qt::Key_F3, NoKey}, &TForm1::FindPrev1,
     &TForm1::FindPrevious, false},
    {"&Edit", "R&eplace...", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_H, NoKey}, &TForm1::Replace1,
     &TForm1::ShowReplace, false},
    {"&Edit", "Toggle co&mment", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Slash, NoKey}, &TForm1::Comment1,
     nullptr, true},
    {"&Edit", "Complete &word", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Space, NoKey}, &TForm1::Complete1,
     nullptr, false},
    {"&View", "Zoom &in", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Equal, Qt::CTRL | Qt::Key_Plus},
     &TForm1::ZoomIn1, nullptr, false},
    {"&View", "Zoom &out", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_Minus, NoKey}, &TForm1::ZoomOut1, nullptr,
     false},
    {"&View", "&Normal size", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_0, NoKey}, &TForm1::ZoomReset1,
     &TForm1::ZoomReset, false},
    {"&Compile", "&Compile", QKeySequence::UnknownKey, {Qt::Key_F9, NoKey}, &TForm1::CompileAction,
     &TForm1::CompileClick, false},
    {"&Compile", "&Build", QKeySequence::UnknownKey, {Qt::CTRL | Qt::Key_B, NoKey}, &TForm1::Build1,
     &TForm1::BuildClick, false},
    {"&Compile", "&Stop build", QKeySequence::UnknownKey, {NoKey, NoKey}, &TForm1::StopBuild1, &TForm1::StopBuild,
     false},
    {"&Compile", "Next &message", QKeySequence::UnknownKey, {Qt::Key_F4, NoKey}, &TForm1::NextMessage1,
     &TForm1::NextMessage, true},
    {"&Compile", "&Previous message", QKeySequence::UnknownKey, {Qt::SHIFT | Qt::Key_F4, NoKey},
     &TForm1::PrevMessage1, &TForm1::PreviousMessage, false},
    {"&Help", "&Language reference", QKeySequence::UnknownKey, {Qt::Key_F1, NoKey}, &TForm1::Reference1,
     &TForm1::ShowLanguageReference, false},
    {"&Help", "&About", QKeySequence::UnknownKey, {NoKey, NoKey}, &TForm1::About1, &TForm1::ShowAbout, false},
};
// What the clipboard items and Select All do.
enum class EditOp { Cut, Copy, Paste, SelectAll };

// Applies `op` to `target`, the pane that has the keys: the messages, the
// listing, a table or a field are cut from, copied from and selected in
// themselves, never the editor behind them. Read-only panes ignore Cut and Paste.
void ApplyEdit(QWidget* target, EditOp op) {
    auto apply = [op](auto* w) {
        // In the order of EditOp.
        const std::function<void()> ops[] = {[w] { w->cut(); }, [w] { w->copy(); }, [w] { w->paste(); },
                                             [w] { w->selectAll(); }};
        ops[int(op)]();
    };
    if (auto* e = qobject_cast<QPlainTextEdit*>(target)) {
        apply(e);
    } else if (auto* e = qobject_cast<QTextEdit*>(target)) {
        apply(e);
    } else if (auto* e = qobject_cast<QLineEdit*>(target)) {
        apply(e);
    } else if (auto* listing = qobject_cast<ListingView*>(target)) {
        if (op == EditOp::Copy) listing->copy();
        if (op == EditOp::SelectAll && listing->lineCount() > 0) listing->selectLines(0, listing->lineCount() - 1);
    } else if (auto* view = qobject_cast<QAbstractItemView*>(target)) {
        if (op == EditOp::SelectAll) view->selectAll();
        if (op == EditOp::Copy) {
            // The selected cells, a row a line and tabs between, as spreadsheets paste them.
            QModelIndexList cells = view->selectionModel() ? view->selectionModel()->selectedIndexes() : QModelIndexList{};
            std::sort(cells.begin(), cells.end());
            QString text;
            for (qsizetype i = 0; i < cells.size(); ++i) {
                if (i > 0) text += cells[i].row() == cells[i - 1].row() ? QLatin1Char('\t') : QLatin1Char('\n');
                text += cells[i].data().toString();
            }
            if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
        }
    }
}

} // namespace

void TForm1::buildMenus() {
    MainMenu1 = menuBar();
    for (const ActionEntry& entry : WindowActions) {
        QMenu* menu = Menu(QString::fromUtf8(entry.menu));
        if (entry.separatorBefore) menu->addSeparator();
        QAction* a = menu->addAction(QString::fromUtf8(entry.text));
        QList<QKeySequence> keys;
        if (entry.standard != QKeySequence::UnknownKey) keys << QKeySequence::keyBindings(entry.standard);
        for (QKeyCombination k : entry.keys)
            if (k != NoKey) keys << QKeySequence(k);
        a->setShortcuts(keys);
        if (entry.handler) connect(a, &QAction::triggered, this, entry.handler);
        this->*(entry.field) = a;
        if (entry.field == &TForm1::Open1) {
            Recent1 = menu->addMenu(QStringLiteral("&Recent files"));
            Examples1 = menu->addMenu(QStringLiteral("E&xamples"));
        }
    }
    File1 = Menu(QStringLiteral("&File"));
    // The handlers that return a value, or belong to the editor.
    connect(Save1, &QAction::triggered, this, [this] { Save(); });
    connect(SaveAs1, &QAction::triggered, this, [this] { SaveAs(); });
    connect(Quit1, &QAction::triggered, this, &QWidget::close);
    connect(Undo1, &QAction::triggered, Source, &QPlainTextEdit::undo);
    connect(Redo1, &QAction::triggered, Source, &QPlainTextEdit::redo);
    for (const auto& [action, op] : {std::pair{Cut1, EditOp::Cut}, std::pair{Copy1, EditOp::Copy},
                                     std::pair{Paste1, EditOp::Paste}, std::pair{SelectAll1, EditOp::SelectAll}})
        connect(action, &QAction::triggered, this, [this, op = op] {
            QWidget* focus = QApplication::focusWidget();
            ApplyEdit(focus && focus->window() == this ? focus : Source, op);
        });
    connect(Comment1, &QAction::triggered, Source, &SourceEditor::toggleComment);
    connect(Complete1, &QAction::triggered, Source, &SourceEditor::complete);
    connect(ZoomIn1, &QAction::triggered, this, [this] { ZoomBy(1); });
    connect(ZoomOut1, &QAction::triggered, this, [this] { ZoomBy(-1); });
    Undo1->setEnabled(false);
    Redo1->setEnabled(false);
    connect(Source, &QPlainTextEdit::undoAvailable, Undo1, &QAction::setEnabled);
    connect(Source, &QPlainTextEdit::redoAvailable, Redo1, &QAction::setEnabled);
    // A build compiles too: it is offered whenever Compile is.
    connect(CompileAction, &QAction::enabledChanged, Build1, &QAction::setEnabled);
    StopBuild1->setEnabled(false);
    Build1->setToolTip(QStringLiteral("build a .hex"));
    QMenu* view = Menu(QStringLiteral("&View"));
    view->addSeparator();
    TabFocus1 = view->addAction(QStringLiteral("&Tab key moves focus"));
    TabFocus1->setCheckable(true);
    TabFocus1->setToolTip(QStringLiteral("Tab and Shift+Tab leave the editor for the next or previous pane instead "
                                         "of indenting (Ctrl+Tab and Ctrl+Shift+Tab always do)"));
    connect(TabFocus1, &QAction::toggled, this, &TForm1::SetTabMovesFocus);
    Panel1->insertAction(Panel1->actions().value(2), Build1);
}

QMenu* TForm1::Menu(const QString& title) {
    const QString plain = QString(title).remove(QLatin1Char('&'));
    QAction* help = nullptr;
    for (QAction* a : MainMenu1->actions()) {
        if (!a->menu()) continue;
        const QString name = a->text().remove(QLatin1Char('&'));
        if (name == plain) return a->menu();
        if (name == QLatin1String("Help")) help = a;
    }
    auto* menu = new QMenu(title, MainMenu1);
    if (help)
        MainMenu1->insertMenu(help, menu);
    else
        MainMenu1->addMenu(menu);
    return menu;
}

QAction* TForm1::AddAction(const QString& menu, const QString& text, const QKeySequence& shortcut,
                           std::function<void()> handler) {
    QAction* a = Menu(menu)->addAction(text);
    a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [handler = std::move(handler)] {
        if (handler) handler();
    });
    return a;
}

void TForm1::AddPane(QWidget* pane, const QString& title) { Panes->addTab(pane, title); }

void TForm1::AppendDiagnostic(const QString& line) { ErrorMemo->appendDiagnostic(line); }

void TForm1::FormCreate() {
    c_.archive.clear();
    loadArchive();
    Source->setArchiveWords(ArchiveWords(c_.archive));
    readSettings();
}

void TForm1::loadArchive() {
    QString failure;
    try {
        ReadArchFile(c_);
        loadArchive16(QDir::currentPath());
        return;
    } catch (const std::exception& e) {
        failure = ErrorText(e.what());
    }
    // Not in the working directory: the archive shipped with the program.
    const QString here = QDir::current().absoluteFilePath(QStringLiteral("Mirtolan.arch"));
    const QString shipped = QDir::cleanPath(env_.exeDir + ShareDirBesideBin + QStringLiteral("/Mirtolan.arch"));
    if (QFileInfo::exists(shipped)) {
        try {
            ReadArchFile(c_, FileBytes(shipped));
            loadArchive16(QFileInfo(shipped).absolutePath());
            return;
        } catch (const std::exception& e) {
            failure = ErrorText(e.what());
        }
    }
    showError(QStringLiteral("%1\n\nThe word archive was looked for in:\n  %2\n  %3\n\n"
                             "Start the program in a directory that holds Mirtolan.arch, or install the "
                             "run-time so that %3 exists. Until then every compile fails.")
                  .arg(failure, here, shipped));
}

// The 16-bit cells' archive lies beside the main one; without it a 16-bit
// compile finds no run-time words and says so at its end.
void TForm1::loadArchive16(const QString& folder) {
    c_.archive16.clear();
    const QString path = folder + QStringLiteral("/") + QString::fromLatin1(Archive16Name);
    if (!QFileInfo::exists(path)) return;
    try {
        ReadArchFiles(c_.archive16, {FileBytes(path)});
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
    }
}

void TForm1::readSettings() {
    settingsPath_ = SettingsFilePath({FileBytes(env_.exeDir), FileBytes(env_.exeName), FileBytes(env_.xdgConfigHome),
                                      FileBytes(env_.home)});
    IniFile settings;
    const bool fresh = !QFileInfo::exists(FileText(settingsPath_));
    try {
        settings.Load(settingsPath_);
    } catch (const std::exception& e) {
        showError(ErrorText(e.what())); // the defaults below then stand
    }
    CheckBox1->setChecked(settings.ReadBool(ini::Compile, ini::Header, ini::DefaultHeader));
    Zcall->setChecked(settings.ReadBool(ini::Compile, ini::Zcall, ini::DefaultZcall));
    lastDir_ = settings.ReadString(ini::Compile, ini::Dir, ini::DefaultDir);
    EdVarBeg->setText(Latin1(settings.ReadString(ini::Compile, ini::VarBeg, ini::DefaultVarBeg)));
    // VarBeg keeps its own default, so that F9 compiles as before; a build
    // for the Uno's chip starts its variables in its SRAM (WindowBuildOptions).
    const std::string deviceName = fresh ? FirstStartDevice : std::string(DefaultDevice().name);
    if (const Device* d = FindDevice(settings.ReadString(ini::Build, ini::Device, deviceName)))
        DeviceBox->setCurrentIndex(int(d - Devices().data()));
    CellsBox->setCurrentIndex(settings.ReadInteger(ini::Build, ini::Cells, ByteCellBits) == WideCellBits ? 1 : 0);
    OptimiseBox->setChecked(settings.ReadBool(ini::Build, ini::Optimise, false));
    const int top = settings.ReadInteger(ini::FormPosi, ini::Top, ini::DefaultTop);
    const int left = settings.ReadInteger(ini::FormPosi, ini::Left, ini::DefaultLeft);
    const int w = settings.ReadInteger(ini::FormPosi, ini::Width, DesignWidth);
    const int h = settings.ReadInteger(ini::FormPosi, ini::Height, DesignHeight);
    sizeFromSettings_ = settings.Find(ini::FormPosi, ini::Width).has_value() && w >= MinStoredWidth &&
                        h >= MinStoredHeight;
    if (sizeFromSettings_) resize(w, h);
    placeOnScreen(left, top);
    fitToScreen();
    SetTabMovesFocus(settings.ReadBool(ini::View, ini::TabFocus, false));
    zoom_ = qBound(MinZoom, static_cast<int>(settings.ReadInteger(ini::View, ini::Zoom, 0)), MaxZoom);
    applyZoom();
    // Splitter sizes as "a,b": anything else leaves the design proportions.
    auto restoreSizes = [&settings](QSplitter* splitter, const char* key) {
        const QStringList parts = QString::fromStdString(settings.ReadString(ini::View, key, "")).split(',');
        QList<int> sizes;
        for (const QString& p : parts) {
            bool ok = false;
            const int v = p.trimmed().toInt(&ok);
            if (!ok || v < 0) return;
            sizes << v;
        }
        if (sizes.size() == splitter->count() && std::accumulate(sizes.begin(), sizes.end(), 0) > 0)
            splitter->setSizes(sizes);
    };
    restoreSizes(Columns, ini::Columns);
    restoreSizes(EditorSplit, ini::EditorSplit);

    recent_.clear();
    for (int i = 1; i <= MaxRecentFiles; ++i) {
        const std::string key = std::string(ini::RecentKey) + std::to_string(i);
        const std::string file = settings.ReadString(ini::Recent, key, "");
        if (!file.empty() && !recent_.contains(FileText(file))) recent_.append(FileText(file));
    }
    rebuildRecentMenu();
    rebuildExamplesMenu();
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
    if (!exampleName_.isEmpty())
        setWindowTitle(exampleName_ + QStringLiteral(" (a copy of the example)[*] - ") + Caption);
    else if (untitled_)
        setWindowTitle(UntitledName + QStringLiteral("[*] - ") + Caption);
    else if (c_.SourceFileName.empty())
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

void TForm1::showFileBytes(const std::string& bytes) {
    format_ = DetectLineFormat(bytes);
    std::vector<std::string> lines = SplitLines(WithoutBom(bytes));
    encoding_ = DetectEncoding(lines);
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) text += QLatin1Char('\n');
        text += DecodeLine(lines[i], encoding_);
    }
    lines = {};
    Source->setLineMessages({}); // marks of the old text would cling to the start of the new one
    Source->setPlainText(text);
    Source->document()->setModified(false);
    declinedRevision_ = -1;
    diskPrint_ = FingerprintOf(bytes);
    keptOver_.reset();
    refreshMarks();
}

bool TForm1::OpenFile(const QString& path) {
    if (compiling_) return false; // the running compile reads the file's name and writes beside it
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::string name = FileBytes(absolute);
    std::string bytes;
    try {
        bytes = ReadFileBytes(name);
    } catch (const std::exception& e) {
        // The old file name stays, so a later save never writes this text over the unread file.
        showError(ErrorText(e.what()));
        return false;
    }
    c_.SourceFileName = name;
    untitled_ = false;
    exampleName_.clear();
    AsmTxt->clear(); // the listing of the file before is no listing of this one
    ErrorMemo->setCurrentFile(absolute);
    showFileBytes(bytes);
    bytes = {};
    watchFile();
    lastDir_ = DirectoryPart(name);
    rememberRecent(absolute);
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Opened %1 (%2 lines, %3, %4 line ends)")
                                 .arg(absolute)
                                 .arg(Source->document()->blockCount())
                                 .arg(QLatin1String(EncodingName(encoding_)))
                                 .arg(QLatin1String(LineEndName(format_.end))));
    Source->setFocus();
    return true;
}

bool TForm1::OpenFileAsking(const QString& path) {
    if (compiling_ || !maybeSave()) return false;
    return OpenFile(path);
}

QStringList TForm1::Examples() const {
    const QDir dir(QDir::cleanPath(env_.exeDir + ShareDirBesideBin + ExamplesFolder));
    QStringList out;
    for (const QString& name : dir.entryList({QStringLiteral("*.4th")}, QDir::Files, QDir::Name))
        out << dir.filePath(name);
    return out;
}

void TForm1::rebuildExamplesMenu() {
    Examples1->clear();
    for (const QString& path : Examples()) {
        QAction* a = Examples1->addAction(QFileInfo(path).fileName());
        a->setStatusTip(QStringLiteral("Opens a copy of %1; Save asks where to keep it").arg(path));
        connect(a, &QAction::triggered, this, [this, path] { OpenExample(path); });
    }
    Examples1->setEnabled(!Examples1->isEmpty());
}

bool TForm1::OpenExample(const QString& path) {
    if (compiling_ || !maybeSave()) return false;
    std::string bytes;
    try {
        bytes = ReadFileBytes(FileBytes(path));
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return false;
    }
    // A copy: the shipped file is never written, Save asks for a place of the user's own.
    c_.SourceFileName.clear();
    untitled_ = true;
    exampleName_ = QFileInfo(path).fileName();
    watchFile();
    AsmTxt->clear();
    ErrorMemo->clearMessages();
    ErrorMemo->setCurrentFile(QString());
    showFileBytes(bytes);
    updateTitle();
    statusBar()->showMessage(QStringLiteral("A copy of the example %1: F9 compiles it, Save keeps it where you choose")
                                 .arg(exampleName_));
    Source->setFocus();
    return true;
}

void TForm1::Open1Click() {
    if (compiling_ || !maybeSave()) return;
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

bool TForm1::mayReplace(const std::string& path) {
    const QString name = QFileInfo(FileText(path)).fileName();
    if (path == c_.SourceFileName) {
        const std::optional<std::uint64_t> now = Fingerprint(path);
        if (now && now != diskPrint_ && now != keptOver_ &&
            ask(QStringLiteral("%1 was changed on disk by another program since the window read it.\n\n"
                               "Replace those changes with the text in the window?")
                    .arg(name),
                QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
    }
    if (IsReadOnlyFile(path) &&
        ask(QStringLiteral("%1 is read-only.\n\nReplace it anyway? The saved file stays read-only.").arg(name),
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;
    if (const std::string refusal = FolderRefusal(path); !refusal.empty())
        throw CompileError("Cannot save " + path + ".\n\n" + refusal);
    return true;
}

bool TForm1::saveTo(const std::string& path) {
    std::vector<QString> text;
    for (QTextBlock b = Source->document()->begin(); b.isValid(); b = b.next()) text.push_back(b.text());
    TextEncoding encoding = SavingEncoding(encoding_, text);
    QChar bad;
    if (!CanEncode(text, encoding, &bad)) {
        if (encoding != TextEncoding::Latin1) {
            showError(QStringLiteral("The text holds a broken character (U+%1) that no file can hold; "
                                     "it was not saved.")
                          .arg(QString::number(bad.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
            return false;
        }
        // Never replace the character: the user chooses between UTF-8 and editing it out.
        const auto answer = ask(QStringLiteral("This file is 8-bit text (Latin-1), which cannot hold \"%1\" "
                                               "(U+%2).\n\nSave it as UTF-8? Its other non-ASCII characters "
                                               "then take two or three bytes each.\nNo leaves the file unsaved.")
                                    .arg(bad)
                                    .arg(QString::number(bad.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))),
                                QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) return false;
        encoding = TextEncoding::Utf8;
    }
    if (!mayReplace(path)) return false;
    std::vector<std::string> lines(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) EncodeLine(text[i], encoding, lines[i]);
    text = {};
    const std::string bytes = FormatLines(lines, format_);
    WriteFileSafely(path, bytes);
    encoding_ = encoding;
    diskPrint_ = FingerprintOf(bytes);
    keptOver_.reset();
    return true;
}

LineList TForm1::compileLines() const {
    // One pass over the whole text: a large source is converted in bulk
    // rather than line by line. Raw text keeps no-break spaces (byte A0 of a
    // Latin-1 file) and separates the lines by U+2029. A byte order mark is
    // no text of the editor's, but the file's first bytes, and the compiler
    // reads the file's bytes.
    const QByteArray bom = format_.bom ? QByteArray(Utf8Bom.data(), qsizetype(Utf8Bom.size())) : QByteArray();
    QString text = Source->document()->toRawText();
    TextEncoding encoding = encoding_;
    if (encoding == TextEncoding::Ascii)
        for (QChar ch : text)
            if (ch.unicode() >= 0x80 && ch != QChar::ParagraphSeparator) {
                encoding = TextEncoding::Utf8;
                break;
            }
    if (encoding == TextEncoding::Latin1)
        for (QChar ch : text)
            if (ch.unicode() > 0xFF && ch != QChar::ParagraphSeparator) {
                // A character the file cannot hold (the user declined to save
                // as UTF-8) goes to the compiler as UTF-8 rather than as
                // something else; the other lines keep their bytes.
                LineList out;
                std::string bytes;
                for (QTextBlock b = Source->document()->begin(); b.isValid(); b = b.next()) {
                    if (!EncodeLine(b.text(), encoding, bytes)) EncodeLine(b.text(), TextEncoding::Utf8, bytes);
                    out.push_back(out.size() == 0 ? bom.toStdString() + bytes : bytes);
                }
                return out;
            }
    if (text.isEmpty()) return bom.isEmpty() ? LineList{} : LineList{std::string_view(Utf8Bom)};
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    const QByteArray bytes = bom + (encoding == TextEncoding::Latin1 ? text.toLatin1() : text.toUtf8());
    text = QString();
    LineList out = SplitLineList(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    // The split drops a line end at the very end; here it begins a last, empty line.
    if (bytes.endsWith('\n')) out.push_back(std::string_view());
    return out;
}

bool TForm1::Save() {
    if (c_.SourceFileName.empty()) return SaveAs();
    try {
        if (!saveTo(c_.SourceFileName)) return false;
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return false;
    }
    Source->document()->setModified(false);
    watchFile();
    statusBar()->showMessage(QStringLiteral("Saved %1").arg(FileText(c_.SourceFileName)));
    return true;
}

bool TForm1::SaveAs() {
    if (compiling_) return false;
    QString dir = c_.SourceFileName.empty() ? FileText(lastDir_) : FileText(c_.SourceFileName);
    if (!QFileInfo(dir).exists()) dir.clear();
    if (c_.SourceFileName.empty()) {
        const QString name = exampleName_.isEmpty() ? UntitledName : exampleName_;
        dir = dir.isEmpty() ? name : QDir(dir).filePath(name);
    }
    QString path = env_.saveFileName ? env_.saveFileName(this, dir, SourceFilter) : QString();
    if (path.isEmpty()) return false;
    // A name typed without an extension gets the source's. The dialog asked
    // about replacing the name as typed, not this one.
    if (QFileInfo(path).suffix().isEmpty() && !path.endsWith(QLatin1Char('.'))) {
        path += QStringLiteral(".4th");
        if (QFileInfo::exists(path) &&
            ask(QStringLiteral("%1 already exists.\n\nReplace it?").arg(QFileInfo(path).fileName()),
                QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    try {
        if (!saveTo(FileBytes(absolute))) return false;
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return false;
    }
    c_.SourceFileName = FileBytes(absolute);
    untitled_ = false;
    exampleName_.clear();
    lastDir_ = DirectoryPart(c_.SourceFileName);
    Source->document()->setModified(false);
    watchFile();
    ErrorMemo->setCurrentFile(absolute);
    rememberRecent(absolute);
    updateTitle();
    return true;
}

void TForm1::NewFile() {
    if (compiling_ || !maybeSave()) return;
    c_.SourceFileName.clear();
    untitled_ = true;
    exampleName_.clear();
    watchFile();
    encoding_ = TextEncoding::Ascii;
    format_ = LineFormat{}; // a new file has CR LF after every line
    diskPrint_.reset();
    keptOver_.reset();
    Source->setPlainText(QString::fromLatin1(NewSourceTemplate));
    Source->document()->setModified(false);
    declinedRevision_ = -1;
    ErrorMemo->clearMessages();
    ErrorMemo->setCurrentFile(QString());
    AsmTxt->clear();
    // The cursor waits inside main, between BEGIN and AGAIN.
    Source->goToLine(4);
    QTextCursor c = Source->textCursor();
    c.movePosition(QTextCursor::EndOfBlock);
    Source->setTextCursor(c);
    updateTitle();
}

bool TForm1::chksave() {
    if (!Source->document()->isModified()) return true;
    // The user said No to these very edits at an earlier compile.
    if (Source->document()->revision() == declinedRevision_) return true;
    if (ask(QStringLiteral("Save change befor compile?"), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        // A failure (or a declined encoding question) leaves the mark set, so the question comes again.
        if (!saveTo(c_.SourceFileName)) return false;
        Source->document()->setModified(false);
        return true;
    }
    // Compiled as they stand, but still unsaved: closing or opening another file asks.
    declinedRevision_ = Source->document()->revision();
    return true;
}

void TForm1::CompileClick() {
    if (compiling_ || !Compile->isEnabled()) return;
    const bool named = !c_.SourceFileName.empty();
    if (!named && Source->document()->isEmpty()) {
        statusBar()->showMessage(NothingToCompile);
        return;
    }
    QString file;
    try {
        // An untitled source is compiled as it stands and its listing only
        // shown: no file is written, so no name is asked for.
        if (named && !chksave()) return;
        file = named ? currentFile() : untitledFile();
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return;
    }
    c_.WriteListing = named;
    c_.UseZcall = Zcall->isChecked();
    c_.IncludeHeader = CheckBox1->isChecked();
    c_.VarStart = Bytes(EdVarBeg->text());
    c_.CellBits = ChosenCellBits();
    c_.Optimise = OptimiseBox->isChecked();
    LineList lines;
    try {
        lines = compileLines();
    } catch (const std::exception& e) { // no memory for a copy of the text
        showError(ErrorText(e.what()));
        return;
    }
    compiledFile_ = file;
    compiledLines_ = lines.size();
    compileFailure_.clear();
    compiling_ = true;
    setCompileRunning(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    compileTimer_.start();
    if (!env_.compileOnWorker) {
        c_.ProcessEvents = [this] {
            // The listing view shows c_.Listing, which the compile is about to rebuild.
            AsmTxt->clear();
            ErrorMemo->clearMessages();
            statusBar()->showMessage(QStringLiteral("Compiling\u2026"));
            // Repaint the emptied panes, but take no input, so nothing can start a second compile.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
        runCompile(lines);
        compileFinished();
        return;
    }
    // The panes let go of c_.Listing now: the worker is about to rebuild it.
    c_.ProcessEvents = nullptr;
    AsmTxt->clear();
    ErrorMemo->clearMessages();
    statusBar()->showMessage(QStringLiteral("Compiling\u2026"));
    worker_ = QThread::create([this, lines = std::move(lines)]() mutable {
        runCompile(lines);
        lines = LineList(); // the copy of the text goes now, not with the thread object
    });
    connect(worker_, &QThread::finished, this, [this] {
        worker_->wait();
        worker_->deleteLater();
        worker_ = nullptr;
        compileFinished();
    });
    worker_->start();
}

int TForm1::ChosenCellBits() const { return CellsBox->currentData().toInt() == WideCellBits ? WideCellBits : ByteCellBits; }

const Device& TForm1::ChosenDevice() const {
    const int i = DeviceBox->currentIndex();
    return i >= 0 && std::size_t(i) < Devices().size() ? Devices()[std::size_t(i)] : DefaultDevice();
}

void TForm1::ChooseDevice(const Device& device) {
    DeviceBox->setCurrentIndex(int(&device - Devices().data()));
    emit DeviceBox->activated(DeviceBox->currentIndex());
}

bool TForm1::Building() const { return builder_ && builder_->running(); }

void TForm1::BuildClick() {
    if (compiling_ || !Compile->isEnabled()) return;
    if (c_.SourceFileName.empty() && Source->document()->isEmpty()) {
        statusBar()->showMessage(NothingToCompile);
        return;
    }
    BuildOptions o;
    LineList lines;
    try {
        // An untitled source is built in the scratch folder, without a name.
        if (!c_.SourceFileName.empty() && !chksave()) return;
        o = WindowBuildOptions();
        lines = compileLines();
    } catch (const std::exception& e) {
        showError(ErrorText(e.what()));
        return;
    }
    if (!builder_) {
        builder_ = new BuildController(this);
        connect(builder_, &BuildController::stage, this, [this](const QString& stage) {
            statusBar()->showMessage(QStringLiteral("Building for the %1: %2…")
                                         .arg(DeviceBox->currentText(), stage));
        });
        connect(builder_, &BuildController::finished, this, &TForm1::buildFinished);
    }
    compiledFile_ = FileText(o.sourceFile);
    compiling_ = true;
    setCompileRunning(true);
    StopBuild1->setEnabled(true);
    ErrorMemo->clearMessages();
    auto* busy = new QProgressBar(statusBar());
    busy->setObjectName(QStringLiteral("BuildProgress"));
    busy->setRange(0, 0); // no measure of how far: it only shows that work goes on
    busy->setMaximumWidth(120);
    statusBar()->addPermanentWidget(busy);
    compileTimer_.start();
    builder_->start(std::move(o), std::move(lines));
}

QString TForm1::untitledFile() {
    const QString temp = env_.tempDir.isEmpty() ? QDir::tempPath() : env_.tempDir;
    if (!scratch_ || scratch_->path().empty()) scratch_.emplace("mirtolan-", FileBytes(temp));
    if (scratch_->path().empty()) throw CompileError(scratch_->error());
    const QString file = FileText(scratch_->path()) + QLatin1Char('/') + UntitledName;
    // Its messages lead into the editor, as those of a file lead into it.
    ErrorMemo->setCurrentFile(file);
    return file;
}

QString TForm1::ScratchFolderPath() const { return scratch_ ? FileText(scratch_->path()) : QString(); }

BuildOptions TForm1::WindowBuildOptions(const QString& runtimeDir) {
    const QString runtime =
        runtimeDir.isEmpty() ? QDir::cleanPath(env_.exeDir + ShareDirBesideBin) : runtimeDir;
    BuildOptions o;
    o.sourceFile = c_.SourceFileName.empty() ? FileBytes(untitledFile()) : c_.SourceFileName;
    o.device = &ChosenDevice();
    const QString varStart = EdVarBeg->text().trimmed();
    if (!varStart.isEmpty() && !BelowSram(varStart, *o.device)) o.varStart = Bytes(varStart);
    o.useZcall = Zcall->isChecked();
    o.includeHeader = CheckBox1->isChecked();
    o.cellBits = ChosenCellBits();
    o.optimise = OptimiseBox->isChecked();
    o.archive = c_.archive.fileName.empty() ? FileBytes(runtime + QStringLiteral("/Mirtolan.arch")) : c_.archive.fileName;
    o.archive16 = c_.archive16.fileName;
    o.runtimeDirs = {FileBytes(runtime)};
    return o;
}

void TForm1::StopBuild() {
    if (builder_) builder_->stop();
}

void TForm1::buildFinished(const BuildResult& r) {
    const qint64 ms = compileTimer_.elapsed();
    compiling_ = false;
    setCompileRunning(false);
    StopBuild1->setEnabled(false);
    delete statusBar()->findChild<QProgressBar*>(QStringLiteral("BuildProgress"));
    for (const QString& line : DiagnosticLines(r)) AppendDiagnostic(line);
    QString summary;
    switch (r.status) {
    case BuildResult::Built:
        summary = QStringLiteral("Built %1 for the %2: %3 words of flash, in %4 ms")
                      .arg(c_.SourceFileName.empty() ? QStringLiteral("the untitled source") : FileText(r.hexFile),
                           Latin1(std::string(r.device->title)))
                      .arg(r.flashWords)
                      .arg(ms);
        if (BelowSram(EdVarBeg->text(), *r.device))
            summary += QStringLiteral("; variables from $%1, since VarBeg $%2 lies below its SRAM")
                           .arg(Latin1(r.varStart), EdVarBeg->text().trimmed());
        if (c_.SourceFileName.empty()) summary += QStringLiteral("; save the source to keep a .hex beside it");
        break;
    case BuildResult::Problems:
        summary = QStringLiteral("Build failed: no .hex written (%1 problem%2)")
                      .arg(r.diagnostics.size())
                      .arg(r.diagnostics.size() == 1 ? QString() : QStringLiteral("s"));
        break;
    case BuildResult::Abandoned:
        for (const auto& m : r.compileMessages) AppendDiagnostic(Latin1(m));
        summary = QStringLiteral("Build abandoned: %1").arg(Latin1(r.error));
        break;
    }
    AppendDiagnostic(summary);
    statusBar()->showMessage(summary);
    if (closeWhenCompiled_) {
        closeWhenCompiled_ = false;
        close();
    }
}

void TForm1::runCompile(const LineList& lines) {
    try {
        mirtolan::CompileSource(c_, lines);
    } catch (const std::exception& e) {
        compileFailure_ = ErrorText(e.what());
    }
}

void TForm1::setCompileRunning(bool running) {
    for (QAction* a : {Open1, New1, SaveAs1, CompileAction}) a->setEnabled(!running);
    Recent1->setEnabled(!running && !recent_.isEmpty());
    SpeedButton1->setEnabled(!running);
    Compile->setEnabled(!running);
}

void TForm1::compileFinished() {
    const qint64 ms = compileTimer_.elapsed();
    compiling_ = false;
    setCompileRunning(false);
    AsmTxt->setLines(&c_.Listing);
    Source->setLineMessages({}); // a new compile's messages are marked where they point now
    ErrorMemo->setCompilerMessages(c_.Messages, compiledFile_);
    QApplication::restoreOverrideCursor();
    Zcall->setChecked(c_.UseZcall);
    if (compileFailure_.isEmpty()) {
        const std::size_t problems = SourceMessageCount(c_);
        const QString wrote = c_.WriteListing ? QStringLiteral("wrote ") + FileText(c_.AsmFileName)
                                              : QStringLiteral("the listing is shown, not saved (the source has no name yet)");
        statusBar()->showMessage(QStringLiteral("Compiled %1 lines, %2 message%3, %4 in %5 ms")
                                     .arg(compiledLines_)
                                     .arg(problems)
                                     .arg(problems == 1 ? QString() : QStringLiteral("s"))
                                     .arg(wrote)
                                     .arg(ms));
    } else {
        statusBar()->showMessage(QStringLiteral("Compile abandoned after %1 ms: %2").arg(ms).arg(compileFailure_));
        showError(compileFailure_);
    }
    emit compiled();
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
    settings.WriteInteger(ini::FormPosi, ini::Width, width());
    settings.WriteInteger(ini::FormPosi, ini::Height, height());
    settings.WriteInteger(ini::View, ini::Zoom, zoom_);
    settings.WriteBool(ini::View, ini::TabFocus, TabFocus1->isChecked());
    auto sizesText = [](const QSplitter* splitter) {
        QStringList parts;
        for (int v : splitter->sizes()) parts << QString::number(v);
        return parts.join(QLatin1Char(',')).toStdString();
    };
    // A window never shown has splitters of no size: nothing worth keeping.
    for (const auto& [splitter, key] : {std::pair{Columns, ini::Columns}, std::pair{EditorSplit, ini::EditorSplit}}) {
        const QList<int> sizes = splitter->sizes();
        if (std::accumulate(sizes.begin(), sizes.end(), 0) > 0) settings.WriteString(ini::View, key, sizesText(splitter));
    }
    settings.WriteString(ini::Build, ini::Device, std::string(ChosenDevice().name));
    settings.WriteInteger(ini::Build, ini::Cells, ChosenCellBits());
    settings.WriteBool(ini::Build, ini::Optimise, OptimiseBox->isChecked());
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
    if (Building()) StopBuild(); // the close follows when the build has stopped
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
    const std::optional<int> line = ErrorMemo->lineInCurrentFile(message);
    if (!line) return false;
    Source->goToLine(*line);
    return true;
}

void TForm1::watchFile() {
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    if (!c_.SourceFileName.empty() && QFileInfo::exists(currentFile())) watcher_->addPath(currentFile());
}

void TForm1::CheckDisk() {
    if (c_.SourceFileName.empty() || askingAboutDisk_) return;
    watchFile();
    const QString file = currentFile();
    const std::optional<std::uint64_t> now = Fingerprint(c_.SourceFileName);
    if (now == diskPrint_ || (now && now == keptOver_)) return;
    if (!now) {
        if (QFileInfo::exists(file)) return; // a device, a pipe, or unreadable: nothing to compare
        // The text is all that is left of it: closing asks to save it.
        diskPrint_.reset();
        Source->document()->setModified(true);
        statusBar()->showMessage(QStringLiteral("%1 was deleted or renamed on disk; Save writes it again").arg(file));
        return;
    }
    if (Source->document()->isModified()) {
        askingAboutDisk_ = true;
        const auto answer = ask(QStringLiteral("%1 was changed on disk by another program.\n\n"
                                               "Reload it? Yes loads the file and drops your edits; No keeps "
                                               "your text, and Save will then replace the file with it.")
                                    .arg(QFileInfo(file).fileName()),
                                QMessageBox::Yes | QMessageBox::No);
        askingAboutDisk_ = false;
        if (answer != QMessageBox::Yes) {
            keptOver_ = now;
            statusBar()->showMessage(QStringLiteral("Kept your text over the changed %1").arg(file));
            return;
        }
    }
    reloadFromDisk();
}

void TForm1::reloadFromDisk() {
    std::string bytes;
    try {
        bytes = ReadFileBytes(c_.SourceFileName);
    } catch (const std::exception& e) {
        statusBar()->showMessage(ErrorText(e.what()));
        return;
    }
    // The cursor stays on its line, where the user was reading.
    const int line = Source->textCursor().blockNumber();
    const int scroll = Source->verticalScrollBar()->value();
    showFileBytes(bytes);
    QTextCursor at(Source->document()->findBlockByNumber(qMin(line, Source->document()->blockCount() - 1)));
    Source->setTextCursor(at);
    Source->verticalScrollBar()->setValue(scroll);
    statusBar()->showMessage(QStringLiteral("Reloaded %1: it was changed on disk").arg(currentFile()));
}

void TForm1::SetTabMovesFocus(bool on) {
    Source->setTabChangesFocus(on);
    TabFocus1->setChecked(on);
}

void TForm1::fitToScreen() {
    const QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect avail = screen->availableGeometry();
    // The frame (title bar, borders) comes on top of the size.
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize room(avail.width() - frame.width(), avail.height() - frame.height());
    QSize want = size();
    if (!sizeFromSettings_) want.setWidth(qMax(want.width(), Panel1->sizeHint().width()));
    const QSize fitted = want.boundedTo(room);
    if (fitted != size()) resize(fitted);
    // Moved back in where a size that was clipped would stick out.
    const QRect now = frameGeometry();
    const int x = qBound(avail.left(), now.left(), qMax(avail.left(), avail.right() + 1 - now.width()));
    const int y = qBound(avail.top(), now.top(), qMax(avail.top(), avail.bottom() + 1 - now.height()));
    if (x != now.left() || y != now.top()) move(x, y);
}

void TForm1::showEvent(QShowEvent* event) {
    // The tools that add to the tool bar have done so by the first show.
    if (!placed_) {
        placed_ = true;
        fitToScreen();
    }
    QMainWindow::showEvent(event);
}

void TForm1::NextMessage() {
    if (!ErrorMemo->step(false)) statusBar()->showMessage(QStringLiteral("No message about this file"));
}

void TForm1::PreviousMessage() {
    if (!ErrorMemo->step(true)) statusBar()->showMessage(QStringLiteral("No message about this file"));
}

QString TForm1::currentFile() const {
    return c_.SourceFileName.empty() ? QString() : FileText(c_.SourceFileName);
}

void TForm1::refreshMarks() { Source->setLineMessages(ErrorMemo->currentFileMessages()); }

void TForm1::showPosition() {
    const QTextCursor c = Source->textCursor();
    Position->setText(QStringLiteral("%1:%2").arg(c.blockNumber() + 1).arg(c.positionInBlock() + 1));
}

void TForm1::applyZoom() {
    QFont font = baseFont_;
    font.setPointSizeF(qMax(1.0, baseFont_.pointSizeF() + zoom_));
    Source->setFont(font);
    AsmTxt->setFont(font);
    ErrorMemo->setFont(font);
    // Assembler text and sources are laid out with tabs at every eighth column.
    Source->setTabStopDistance(8 * QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')));
}

void TForm1::ZoomBy(int steps) {
    const int z = qBound(MinZoom, zoom_ + steps, MaxZoom);
    if (z == zoom_) return;
    zoom_ = z;
    applyZoom();
}

void TForm1::ZoomReset() {
    zoom_ = 0;
    applyZoom();
}

void TForm1::ShowAbout() {
    QMessageBox::about(this, QStringLiteral("About Mirtolan"), AboutText(QCoreApplication::applicationVersion()));
}

void TForm1::ShowLanguageReference() { mirtolan::ShowLanguageReference(this); }

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedSourceFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = DroppedSourceFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    OpenFileAsking(path);
}

void TForm1::ShowFind() { FindBar->showFind(); }
void TForm1::ShowReplace() { FindBar->showReplace(); }
void TForm1::FindNext() { FindBar->findNext(); }
void TForm1::FindPrevious() { FindBar->findPrevious(); }
void TForm1::ReplaceNext() { FindBar->replaceNext(); }
int TForm1::ReplaceAll() { return FindBar->replaceAll(); }

} // namespace mirtolan
