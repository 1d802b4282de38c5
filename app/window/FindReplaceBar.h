// The find bar under the editor: a text to find, with Next and Previous,
// and on Ctrl+H a replacement with Replace and All; Case and Words narrow
// the matches. Searches wrap round the end of the text once.
#pragma once

#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace mirtolan {

class FindReplaceBar : public QToolBar {
    Q_OBJECT
public:
    FindReplaceBar(QPlainTextEdit* editor, QWidget* parent = nullptr);

    // Shows the bar, taking a one-line selection of the editor as the text to find.
    void showFind();
    // The same with the replacement field, which takes the keys when there is something to find.
    void showReplace();
    // False when there is no match anywhere (or nothing to find).
    bool findNext();
    bool findPrevious();
    // Replaces the selection when it is a match, then finds the next one.
    void replaceNext();
    // Replaces every match as one undo step; returns how many.
    int replaceAll();

    QLineEdit* findText() const { return findText_; }
    QLineEdit* replaceText() const { return replaceText_; }
    QCheckBox* matchCase() const { return matchCase_; }
    QCheckBox* wholeWords() const { return wholeWords_; }

signals:
    // Something for the status bar ("not found", how many were replaced).
    void report(const QString& text);
    // The bar closed; the keys go back to the editor.
    void closed();

private:
    bool find(bool backward);
    QTextDocument::FindFlags flags() const;
    // The next match from `from` (a null cursor when none), as Case and Words ask.
    QTextCursor findFrom(const QTextCursor& from, bool backward) const;
    void setReplaceVisible(bool visible);
    void close();

    QPlainTextEdit* editor_;
    QLineEdit* findText_;
    QLineEdit* replaceText_;
    QCheckBox* matchCase_;
    QCheckBox* wholeWords_;
    QList<QAction*> replaceItems_; // the replacement field and its buttons, shown on Ctrl+H only
};

} // namespace mirtolan
