// The compiler's window: the source editor, the three options, the Compile
// button, the listing and the message list, and the settings that carry the
// options, the last directory and the window position from run to run.
#pragma once

#include <QMainWindow>
#include <QMessageBox>

#include <functional>
#include <string>
#include <vector>

#include "Compiler.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
class QToolButton;
class QWidget;

namespace mirtolan {

class SourceEditor;
class ForthHighlighter;

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
    void chksave();
    void Button1Click();
    void FormClose();

    // Loads `path` into the source pane as the Open dialog does once a file is chosen.
    // Returns false (after an error box) when it cannot be read.
    bool OpenFile(const QString& path);
    // Asks about unsaved edits first (Yes saves, No discards, Cancel keeps them), then opens.
    bool OpenFileAsking(const QString& path);
    bool Save();
    bool SaveAs();
    void FindNext();
    void FindPrevious();
    void ShowFind();

    const std::string& LastDir() const { return lastDir_; }
    const std::string& SettingsPath() const { return settingsPath_; }
    const Compiler& State() const { return c_; }
    QStringList RecentFiles() const { return recent_; }
    // Moves the cursor to the source line a message names (",Line n" or "Line n").
    bool GoToMessageLine(const QString& message);

    // The controls, public like the designer's fields so tests can drive them.
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* Quit1 = nullptr;
    QAction* CompileAction = nullptr;
    QAction* Find1 = nullptr;
    QAction* FindNext1 = nullptr;
    QAction* FindPrev1 = nullptr;
    QMenu* Recent1 = nullptr;
    QToolBar* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPushButton* Compile = nullptr;
    QCheckBox* Zcall = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* VarBeg = nullptr;
    QLineEdit* EdVarBeg = nullptr;
    QPushButton* Button1 = nullptr;
    SourceEditor* Source = nullptr;
    QPlainTextEdit* AsmTxt = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* ErrorMemo = nullptr;
    QToolBar* FindBar = nullptr;
    QLineEdit* FindText = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    void loadArchive();
    void readSettings();
    void placeOnScreen(int left, int top);
    void updateTitle();
    void rememberRecent(const QString& path);
    void rebuildRecentMenu();
    // Yes/No/Cancel about unsaved edits; false means the user went back.
    bool maybeSave();
    void saveTo(const std::string& path);
    void showError(const QString& text);
    QMessageBox::StandardButton ask(const QString& text, QMessageBox::StandardButtons buttons);
    bool find(bool backward);

    FormEnvironment env_;
    Compiler c_;
    std::string lastDir_;
    std::string settingsPath_;
    QStringList recent_;
    ForthHighlighter* highlighter_ = nullptr;
    bool compiling_ = false;
    bool closeWhenCompiled_ = false;
};

// The directory part of a path as the Open dialog's next start: up to the
// last "/", which is dropped unless it is the root itself.
std::string DirectoryPart(const std::string& path);

} // namespace mirtolan

using mirtolan::TForm1;
