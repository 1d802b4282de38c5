#include "FindReplaceBar.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QStyle>
#include <QTextCursor>

namespace mirtolan {

FindReplaceBar::FindReplaceBar(QPlainTextEdit* editor, QWidget* parent)
    : QToolBar(QStringLiteral("Find"), parent), editor_(editor) {
    setObjectName(QStringLiteral("FindBar"));
    setMovable(false);
    addWidget(new QLabel(QStringLiteral("Find: "), this));
    findText_ = new QLineEdit(this);
    connect(findText_, &QLineEdit::returnPressed, this, &FindReplaceBar::findNext);
    addWidget(findText_);
    addAction(QStringLiteral("Next"), this, &FindReplaceBar::findNext);
    addAction(QStringLiteral("Previous"), this, &FindReplaceBar::findPrevious);
    replaceItems_ << addWidget(new QLabel(QStringLiteral(" Replace: "), this));
    replaceText_ = new QLineEdit(this);
    connect(replaceText_, &QLineEdit::returnPressed, this, &FindReplaceBar::replaceNext);
    replaceItems_ << addWidget(replaceText_);
    replaceItems_ << addAction(QStringLiteral("Replace"), this, &FindReplaceBar::replaceNext);
    replaceItems_ << addAction(QStringLiteral("All"), this, [this] { replaceAll(); });
    matchCase_ = new QCheckBox(QStringLiteral("Case"), this);
    matchCase_->setToolTip(QStringLiteral("match upper and lower case exactly"));
    addWidget(matchCase_);
    wholeWords_ = new QCheckBox(QStringLiteral("Words"), this);
    wholeWords_->setToolTip(QStringLiteral("match whole Forth words only: the text between blanks, so ?DUP is one word"));
    addWidget(wholeWords_);
    addAction(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), this,
              &FindReplaceBar::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &FindReplaceBar::close);
}

void FindReplaceBar::close() {
    hide();
    emit closed();
}

void FindReplaceBar::setReplaceVisible(bool visible) {
    for (QAction* a : replaceItems_) a->setVisible(visible);
}

void FindReplaceBar::showFind() {
    setReplaceVisible(false);
    show();
    const QString selected = editor_->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) findText_->setText(selected);
    findText_->selectAll();
    findText_->setFocus();
}

void FindReplaceBar::showReplace() {
    showFind();
    setReplaceVisible(true);
    if (!findText_->text().isEmpty()) {
        replaceText_->selectAll();
        replaceText_->setFocus();
    }
}

QTextDocument::FindFlags FindReplaceBar::flags() const {
    QTextDocument::FindFlags f;
    if (matchCase_->isChecked()) f |= QTextDocument::FindCaseSensitively;
    return f;
}

QTextCursor FindReplaceBar::findFrom(const QTextCursor& from, bool backward) const {
    QTextDocument::FindFlags f = flags();
    if (backward) f |= QTextDocument::FindBackward;
    const QString text = findText_->text();
    if (!wholeWords_->isChecked()) return editor_->document()->find(text, from, f);
    // A Forth word is whatever stands between blanks (characters 0 to 32),
    // so "?DUP" is one word and "DUP" is no whole word in it; the document's
    // own whole-word search knows only C identifiers.
    // Case goes by the flags, as for plain text.
    const QRegularExpression word(QStringLiteral("(?<![^\\x00-\\x20])") + QRegularExpression::escape(text) +
                                  QStringLiteral("(?![^\\x00-\\x20])"));
    return editor_->document()->find(word, from, f);
}

bool FindReplaceBar::find(bool backward) {
    const QString text = findText_->text();
    if (text.isEmpty()) {
        showFind();
        return false;
    }
    QTextCursor found = findFrom(editor_->textCursor(), backward);
    if (found.isNull()) {
        // Wrap around once, as editors do.
        QTextCursor from(editor_->document());
        from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        found = findFrom(from, backward);
    }
    if (!found.isNull()) {
        editor_->setTextCursor(found);
        return true;
    }
    emit report(QStringLiteral("\"%1\" not found").arg(text));
    return false;
}

bool FindReplaceBar::findNext() { return find(false); }
bool FindReplaceBar::findPrevious() { return find(true); }

void FindReplaceBar::replaceNext() {
    const QString text = findText_->text();
    if (text.isEmpty()) {
        showReplace();
        return;
    }
    QTextCursor c = editor_->textCursor();
    const Qt::CaseSensitivity cs = matchCase_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    // Only a selection that is itself a match is replaced; otherwise the first step finds one.
    if (c.hasSelection() && c.selectedText().compare(text, cs) == 0) {
        c.insertText(replaceText_->text());
        editor_->setTextCursor(c);
    }
    find(false);
}

int FindReplaceBar::replaceAll() {
    const QString text = findText_->text();
    if (text.isEmpty()) return 0;
    int count = 0;
    QTextCursor edit(editor_->document());
    edit.beginEditBlock();
    QTextCursor at(editor_->document());
    while (true) {
        at = findFrom(at, false);
        if (at.isNull()) break;
        at.insertText(replaceText_->text());
        ++count;
    }
    edit.endEditBlock();
    emit report(QStringLiteral("Replaced %1 occurrence%2").arg(count).arg(count == 1 ? "" : "s"));
    return count;
}

} // namespace mirtolan
