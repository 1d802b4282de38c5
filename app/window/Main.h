// The compiler's window: the source editor, the three options, the Compile
// button, the listing and the message list, and the settings that carry the
// options, the last directory, the window's place and size, the splitters and
// the zoom from run to run. Its menu actions are built from one table, and
// other tools add theirs, and panes beside the listing, through AddAction
// and AddPane.
#pragma once

#include <QMainWindow>
#include <QElapsedTimer>
#include <QFont>
#include <QMessageBox>
#include <QTextDocument>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Compiler.h"
#include "Build.h"
#include "Devices.h"
#include "DiskFile.h"
#include "Scratch.h"
#include "FileEncoding.h"

class QAction;
class QComboBox;
class QProgressBar;
class QCheckBox;
class QFileSystemWatcher;
class QTimer;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSplitter;
class QThread;
class QTabWidget;
class QPushButton;
class QToolBar;
class QToolButton;
class QWidget;

namespace mirtolan {

class BuildController;
class SourceEditor;
class ForthHighlighter;
class FindReplaceBar;
class ListingView;
class MessagePane;

// Everything the window asks of the user or of its surroundings, so that a
// test can answer instead of a person and point the files at a scratch place.
struct FormEnvironment {
    enum class Box { Question, Error };
    // Shows a message box and returns the button pressed.
    std::function<QMessageBox::StandardButton(QWidget* parent, Box kind, const QString& text,
                                              QMessageBox::StandardButtons buttons)>
        message;
    // Asks for a file to open or to save to; an empty result means cancelled.
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter)> openFileName;
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter)> saveFileName;
    QString exeDir;        // where the settings file and the shipped run-time are looked for
    QString exeName;       // the settings file is named after it
    QString xdgConfigHome; // the user's configuration directories, for an exeDir we cannot write
    QString home;
    QString tempDir;       // where the window makes its private scratch folder; empty: the system's
    // Compiles run on a worker thread, so a large one never freezes the
    // window; off, CompileClick returns with the compile done (for tests
    // that look at the results straight after).
    bool compileOnWorker = false;

    // Real boxes and dialogs, the running executable and the process environment.
    static FormEnvironment Default();
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(FormEnvironment env = FormEnvironment::Default(), QWidget* parent = nullptr);
    ~TForm1() override;

    // The handlers, named as the controls they serve.
    void FormCreate();
    void Open1Click();
    void SpeedButton1Click();
    void CompileClick();
    bool chksave(); // false: the compile must not start (a save failed or was declined)
    void Button1Click();
    void FormClose();

    // Loads `path` into the source pane as the Open dialog does once a file is chosen.
    // Returns false (after an error box) when it cannot be read.
    bool OpenFile(const QString& path);
    // Asks about unsaved edits first (Yes saves, No discards, Cancel keeps them), then opens.
    bool OpenFileAsking(const QString& path);
    // A copy of a shipped example as an untitled source, after asking about unsaved edits.
    bool OpenExample(const QString& path);
    // The shipped examples (share/mirtolan/examples beside the program), by name.
    QStringList Examples() const;
    bool Save();
    bool SaveAs();
    // An untitled source with a short template, after asking about unsaved edits.
    void NewFile();
    void FindNext();
    void FindPrevious();
    void ShowFind();
    // The find bar with its replace field.
    void ShowReplace();
    // Replaces the current match (if the selection is one) and finds the next.
    void ReplaceNext();
    // Replaces every match in the source as one undo step; returns how many.
    int ReplaceAll();
    // F4 / Shift+F4: the next or previous message's line.
    void NextMessage();
    void PreviousMessage();
    // Zoom of the three text panes, in point steps from the design size.
    void ZoomBy(int steps);
    void ZoomReset();
    int Zoom() const { return zoom_; }
    // Builds the editor's text into a .hex off the window's thread; the
    // problems go to the message pane as "FILE:LINE: error: ..." lines.
    void BuildClick();
    // What Build, Run and Upload build: the open source with the window's
    // device, VarBeg (its default when empty), Zcall, header option and
    // archive, and the run-time in `runtimeDir` (empty: the one shipped
    // beside the program). An untitled source is built in the window's
    // private scratch folder; throws CompileError when it cannot be made.
    BuildOptions WindowBuildOptions(const QString& runtimeDir = QString());
    // The editor's text as the bytes its file holds (or would hold), line by
    // line: what a compile, a build or a run takes.
    LineList compileLines() const;
    void StopBuild();
    bool Building() const;
    // The device chosen for builds, and choosing one (which also sets its
    // variable start).
    const Device& ChosenDevice() const;
    // The cell size chosen for compiles and builds: 8 or 16.
    int ChosenCellBits() const;
    void ChooseDevice(const Device& device);
    void ShowAbout();
    void ShowLanguageReference();

    // For the tools that extend the window: the menu of that title (made
    // when missing, placed before Help), an action in it bound to `handler`,
    // and a pane in the tab area beside the listing.
    QMenu* Menu(const QString& title);
    QAction* AddAction(const QString& menu, const QString& text, const QKeySequence& shortcut,
                       std::function<void()> handler);
    void AddPane(QWidget* pane, const QString& title);
    // A "FILE:LINE: error: text" line in the message pane; F4 and a
    // double-click lead from it to that line when FILE is the current file.
    void AppendDiagnostic(const QString& line);
    // The encoding the source was read in and will be saved in.
    TextEncoding SourceEncoding() const { return encoding_; }

    // A compile started and not yet shown.
    bool Compiling() const { return compiling_; }
    const std::string& LastDir() const { return lastDir_; }
    const std::string& SettingsPath() const { return settingsPath_; }
    const Compiler& State() const { return c_; }
    QStringList RecentFiles() const { return recent_; }
    // Moves the cursor to the source line a message names (",Line n",
    // "Line n" or "FILE:LINE:"), when the message is about the current file.
    bool GoToMessageLine(const QString& message);
    // Looks whether the open file changed on disk (the file watcher calls
    // it): an unedited text is reloaded, an edited one asks first.
    void CheckDisk();
    // The private scratch folder of this window; empty until first used.
    QString ScratchFolderPath() const;
    // Tab in the editor moves the focus on instead of indenting.
    void SetTabMovesFocus(bool on);

    // The controls, public like the designer's fields so tests can drive them.
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* Quit1 = nullptr;
    QAction* CompileAction = nullptr;
    QAction* Build1 = nullptr;     // Ctrl+B: the source to a .hex
    QAction* StopBuild1 = nullptr; // stops a running build
    QAction* Find1 = nullptr;
    QAction* FindNext1 = nullptr;
    QAction* FindPrev1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    QAction* Cut1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Paste1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* Replace1 = nullptr;
    QAction* Comment1 = nullptr;
    QAction* Complete1 = nullptr;
    QAction* NextMessage1 = nullptr;
    QAction* PrevMessage1 = nullptr;
    QAction* ZoomIn1 = nullptr;
    QAction* ZoomOut1 = nullptr;
    QAction* ZoomReset1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Reference1 = nullptr;
    QAction* TabFocus1 = nullptr; // View > Tab moves focus
    QMenu* Recent1 = nullptr;
    QMenu* Examples1 = nullptr;   // File > Examples
    QToolBar* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPushButton* Compile = nullptr;
    QCheckBox* Zcall = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* VarBeg = nullptr;
    QLineEdit* EdVarBeg = nullptr;
    QLabel* DeviceLabel = nullptr;
    QComboBox* DeviceBox = nullptr; // the device a build is for
    QLabel* CellsLabel = nullptr;
    QComboBox* CellsBox = nullptr;  // the size of a cell, 8 or 16 bits
    QCheckBox* OptimiseBox = nullptr; // compile with the optimiser
    QPushButton* Button1 = nullptr;
    SourceEditor* Source = nullptr;
    ListingView* AsmTxt = nullptr;
    QLabel* Label1 = nullptr;
    MessagePane* ErrorMemo = nullptr;
    QTabWidget* Panes = nullptr;      // the listing and the panes other tools add
    QSplitter* Columns = nullptr;     // editor and panes | messages
    QSplitter* EditorSplit = nullptr; // editor over the panes
    FindReplaceBar* FindBar = nullptr;
    QLineEdit* FindText = nullptr;
    QLineEdit* ReplaceText = nullptr;
    QCheckBox* MatchCase = nullptr;
    QCheckBox* WholeWords = nullptr;
    QLabel* Position = nullptr;       // line:column of the editor's cursor

signals:
    // A compile ended and its listing and messages are shown.
    void compiled();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    // Runs the compile itself; on the worker thread when there is one.
    void runCompile(const LineList& lines);
    // Shows what the compile left, back on the window's thread.
    void compileFinished();
    // Actions that would change the file under a running compile are off meanwhile.
    void setCompileRunning(bool running);
    void applyZoom();
    void showPosition();
    void refreshMarks();
    QString currentFile() const;
    void loadArchive();
    void loadArchive16(const QString& folder);
    void readSettings();
    void placeOnScreen(int left, int top);
    // The size, clipped to the screen the window is on; on a first start
    // also wide enough for the whole tool bar.
    void fitToScreen();
    void updateTitle();
    void rememberRecent(const QString& path);
    void rebuildRecentMenu();
    // Yes/No/Cancel about unsaved edits; false means the user went back.
    bool maybeSave();
    // Writes the editor's text to `path` in the file's encoding, asking first
    // when a character cannot be held in it. False when the user declined;
    // throws CompileError when the file cannot be written.
    bool saveTo(const std::string& path);
    // Asks before a save replaces text it has not seen (changed on disk) or a
    // read-only file; false when the user declined. Throws CompileError when
    // the folder refuses the safe save, with its remedy.
    bool mayReplace(const std::string& path);
    // Shows a file's bytes in the editor, unedited, and remembers their line
    // ends, encoding and fingerprint.
    void showFileBytes(const std::string& bytes);
    void reloadFromDisk();
    // Points the file watcher at the open file (again: a save by rename
    // leaves it watching the replaced one).
    void watchFile();
    // The name the untitled source is built and compiled under, in the scratch folder.
    QString untitledFile();
    void rebuildExamplesMenu();
    void showError(const QString& text);
    QMessageBox::StandardButton ask(const QString& text, QMessageBox::StandardButtons buttons);

    FormEnvironment env_;
    Compiler c_;
    std::string lastDir_;
    std::string settingsPath_;
    QStringList recent_;
    ForthHighlighter* highlighter_ = nullptr;
    BuildController* builder_ = nullptr; // runs builds; none while idle is fine
    void buildFinished(const BuildResult& result);
    bool compiling_ = false;
    bool closeWhenCompiled_ = false;
    QThread* worker_ = nullptr;  // the running compile's thread, if any
    QString compileFailure_;     // why the last compile was abandoned; empty when it completed
    QString compiledFile_;       // the file the last compile's messages belong to
    std::size_t compiledLines_ = 0; // source lines of the last compile
    QElapsedTimer compileTimer_;    // started with the compile, for the status bar
    TextEncoding encoding_ = TextEncoding::Ascii; // how the open file's bytes became the editor's text
    LineFormat format_;     // the open file's line ends and byte order mark, for the save
    std::optional<std::uint64_t> diskPrint_; // fingerprint of the file as last read or written; none: not on disk
    std::optional<std::uint64_t> keptOver_;  // a changed disk version the user chose to keep their text over
    QFileSystemWatcher* watcher_ = nullptr;  // tells when the open file changes on disk
    QTimer* diskCheck_ = nullptr;            // lets a burst of changes settle before CheckDisk looks
    bool askingAboutDisk_ = false;           // the reload question is open
    std::optional<PrivateFolder> scratch_;   // private folder for building an untitled source, made on first use
    QString exampleName_;                    // the example an untitled source was copied from; empty: none
    bool sizeFromSettings_ = false;          // the settings gave the window's size
    bool placed_ = false;                    // the first show has fitted the window to its screen
    // The document revision whose save the user declined at a compile, so
    // the next compile of the same text does not ask again; -1 for none.
    int declinedRevision_ = -1;
    bool untitled_ = false; // a New source that has no file yet
    int zoom_ = 0;          // point steps added to the panes' design font size
    QFont baseFont_;        // the panes' font at zoom 0
};

// The directory part of a path as the Open dialog's next start: up to the
// last "/", which is dropped unless it is the root itself.
std::string DirectoryPart(const std::string& path);

} // namespace mirtolan

using mirtolan::TForm1;
