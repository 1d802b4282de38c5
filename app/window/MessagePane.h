// The message pane: the compiler's messages and any "FILE:LINE: error: text"
// diagnostics other tools append, each a line that can take the user to the
// source line it names (double-click, Enter, or F4 / Shift+F4 from anywhere).
// Long messages wrap at the pane's width, and each shows whole as its tooltip.
#pragma once

#include <QPlainTextEdit>

class QHelpEvent;

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mirtolan {

// Where a message line points.
struct MessageRef {
    QString file; // the file it names ("FILE:LINE:" form); empty: the compiled source (" ,Line n" form)
    int line = 0; // 1-based source line
};

// Reads "FILE:LINE:" at the start of a line, else the last "Line n" in it.
std::optional<MessageRef> ParseMessageRef(const QString& text);

// Shows `tip` for a tooltip event over `widget`, or hides the tip shown when it is empty.
void ShowTip(const QHelpEvent& event, const QString& tip, QWidget* widget);

// A message about the file in the editor.
struct MessageAt {
    int block = 0; // its line in the pane, 0-based
    int line = 0;  // the 1-based source line it names
    QString text;  // the message
};

class MessagePane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessagePane(QWidget* parent = nullptr);

    // Replaces the pane by a compile's messages; their " ,Line n" numbers
    // belong to `compiledFile`.
    void setCompilerMessages(const std::vector<std::string>& messages, const QString& compiledFile);
    // Appends one "FILE:LINE: error: text" (or any other) line.
    void appendDiagnostic(const QString& line);
    void clearMessages();

    // The file open in the editor: only messages about it lead anywhere.
    void setCurrentFile(const QString& file);
    // The line of the current file that `text` points to, if any.
    std::optional<int> lineInCurrentFile(const QString& text) const;
    // Every message line that points into the current file, in pane order.
    std::vector<MessageAt> currentFileMessages() const;

    // Moves the pane's cursor to the next (or previous) message that points
    // into the current file, wrapping round, and announces its line. False
    // when there is none.
    bool step(bool backward);

signals:
    // A message was chosen (double-click, Enter, F4): go to the source line it
    // names, or where the edits since have moved that line (the window knows).
    void lineActivated(int line, int block);
    // Messages were set, added or cleared.
    void messagesChanged();
    void zoomRequested(int steps);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool activateBlock(int block);
    void markBlock(int block);

    QString compiledFile_; // absolute path whose compile wrote the compiler messages
    QString currentFile_;  // absolute path of the file in the editor
};

} // namespace mirtolan
