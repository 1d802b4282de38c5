// What the window tests share: a scratch tree with a program folder (and so
// a settings file) and a working folder with a small archive, and a window
// whose message boxes and file dialogs the test answers.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <memory>

#include "ListingView.h"
#include "Main.h"
#include "SourceEditor.h"

using namespace mirtolan;

// A small archive in the file's own format: one word and the routine that
// every compile needs at its end.
inline const QByteArray TestArchive = "$$ DUP\r\n\tld\tFtmp1,Y\t; ( n -- n n )\r\n\tst\t-Y,Ftmp1\r\n"
                               "$$ _TestIfZero\r\n\tld\tFtmp1,Y+\r\n\ttst\tFtmp1\r\n$\r\n";

// What the window asked and told, and what the test answers.
struct Dialogs {
    QList<QMessageBox::StandardButton> answers;
    QStringList questions;
    QList<QMessageBox::StandardButtons> questionButtons;
    QStringList errors;
    QString openPath;
    QString savePath;
    QString saveSuggested; // what the Save As dialog was opened on
};

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

inline QStringList PaneLines(const QPlainTextEdit* pane) {
    QStringList out;
    for (const QString& l : DocumentTextLines(*pane->document())) out << l;
    return out;
}

inline QStringList PaneLines(const ListingView* pane) {
    QStringList out;
    for (std::size_t i = 0; i < pane->lineCount(); ++i) out << pane->lineText(i);
    return out;
}

inline QString ListingText(const ListingView* pane) { return PaneLines(pane).join('\n'); }

// A test class of window tests derives from this; the tree is made once, the answers reset before each test.
class FormFixture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(setUpTree()); }
    void init() { resetDialogs(); }

protected:
    // Makes the tree and enters the working folder; false when it cannot.
    bool setUpTree() {
        if (!root_.isValid()) return false;
        bin_ = root_.path() + "/bin";
        work_ = root_.path() + "/work";
        files_ = root_.path() + "/files";
        if (!QDir().mkpath(bin_) || !QDir().mkpath(work_) || !QDir().mkpath(files_)) return false;
        WriteAll(work_ + "/Mirtolan.arch", TestArchive);
        return QDir::setCurrent(work_); // the archive is read from the working directory
    }
    // Before each test: no answers given yet, no settings file.
    void resetDialogs() {
        d_ = std::make_shared<Dialogs>();
        QFile::remove(ini());
    }

    QTemporaryDir root_;
    QString bin_, work_, files_;
    std::shared_ptr<Dialogs> d_;

    std::unique_ptr<TForm1> makeForm(const QString& exeDir = QString(), bool onWorker = false) {
        FormEnvironment env;
        env.compileOnWorker = onWorker;
        auto d = d_;
        env.message = [d](QWidget*, FormEnvironment::Box kind, const QString& text, QMessageBox::StandardButtons b) {
            if (kind == FormEnvironment::Box::Error) {
                d->errors << text;
                return QMessageBox::Ok;
            }
            d->questions << text;
            d->questionButtons << b;
            return d->answers.isEmpty() ? QMessageBox::Cancel : d->answers.takeFirst();
        };
        env.openFileName = [d](QWidget*, const QString&, const QString&) { return d->openPath; };
        env.saveFileName = [d](QWidget*, const QString& dir, const QString&) {
            d->saveSuggested = dir;
            return d->savePath;
        };
        env.exeDir = exeDir.isEmpty() ? bin_ : exeDir;
        env.exeName = QStringLiteral("mirtolan");
        env.xdgConfigHome = root_.path() + "/xdg";
        env.home = root_.path() + "/home";
        env.tempDir = root_.path();
        return std::make_unique<TForm1>(env);
    }
    QString ini() const { return bin_ + "/mirtolan.INI"; }
    QString sourceFile(const QString& name, const QByteArray& text) {
        const QString path = files_ + "/" + name;
        WriteAll(path, text);
        return path;
    }
    // Opens through the Open menu item, with the dialog answering `path`.
    void openViaDialog(TForm1& form, const QString& path) {
        d_->openPath = path;
        form.Open1Click();
    }
    // A window with `path` opened in it.
    std::unique_ptr<TForm1> formOn(const QString& path) {
        auto form = makeForm();
        openViaDialog(*form, path);
        return form;
    }
    void typeAtEnd(TForm1& form, const QString& text) {
        QTextCursor cur = form.Source->textCursor();
        cur.movePosition(QTextCursor::End);
        form.Source->setTextCursor(cur);
        const QStringList parts = text.split('\n');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0) QTest::keyClick(form.Source, Qt::Key_Return);
            for (QChar ch : parts[i]) {
                if (ch.unicode() < 0x80) {
                    QTest::keyClicks(form.Source, QString(ch));
                    continue;
                }
                // Typed on a keyboard with such a key: an event that carries the character itself.
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
                QCoreApplication::sendEvent(form.Source, &press);
            }
        }
    }

};
