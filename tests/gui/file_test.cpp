// The window and the files on disk: a save keeps the file's line ends, its
// byte order mark, a link, a pipe, its mode and group; asks before it
// replaces a read-only file or text changed by another program; tells a
// folder that refuses the save from a file that does; an open file changed
// on disk is reloaded or asked about; an untitled source is built in a
// private scratch folder of its window.
#include <QFileDevice>
#include <QStatusBar>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FormFixture.h"
#include "Settings.h"

namespace {

// The mode bits of a file, links followed.
mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// A folder that only `owner` may write, and a file in it that `owner` may.
// As root the test then acts as nobody, since root writes any folder.
constexpr uid_t Nobody = 65534;

} // namespace

class FileTest : public FormFixture {
    Q_OBJECT

private slots:
    // Each file comes back with its own line ends; a new line typed at its
    // end gets them too. Mixed ends become CR LF after every line.
    void lineEndsAreKept() {
        struct Case {
            QByteArray file;  // as another editor left it
            QByteArray saved; // after a line "c" is added at the end
        };
        const Case cases[] = {
            {"a\nb\n", "a\nb\nc\n"},
            {"a\r\nb\r\n", "a\r\nb\r\nc\r\n"},
            {"a\rb\r", "a\rb\rc\r"},
            {"a\nb", "a\nb\nc"}, // no line end after the last line
            {"\xEF\xBB\xBF" "a\r\nb\r\n", "\xEF\xBB\xBF" "a\r\nb\r\nc\r\n"}, // a byte order mark
            {"a\nb\r\n", "a\r\nb\r\nc\r\n"}, // mixed
            {"a", "a\r\nc"},                     // no line end at all
        };
        for (const Case& c : cases) {
            const QString src = sourceFile("ends.4th", c.file);
            auto form = formOn(src);
            QCOMPARE(form->Source->document()->firstBlock().text(), QString("a")); // no mark in the text
            // The compiler reads the file's bytes, the mark among them, as mirtolanc does.
            QCOMPARE(QByteArray::fromStdString(std::string(form->compileLines()[0])), c.file.left(c.file.indexOf('a') + 1));
            QVERIFY(form->Save()); // unedited: the very bytes again, but for mixed ends
            QVERIFY2(ReadAll(src) == (c.file.startsWith("a\nb\r") ? QByteArray("a\r\nb\r\n") : c.file), c.file);
            typeAtEnd(*form, "\nc");
            QVERIFY(form->Save());
            QVERIFY2(ReadAll(src) == c.saved, c.file);
        }
    }

    // Saving through a link writes the file it leads to and leaves the link;
    // the file keeps its mode and group. The settings file likewise.
    void savesGoThroughLinksAndKeepModeAndGroup() {
        const QString real = sourceFile("elsewhere/real.4th", ": one ;\r\n");
        QVERIFY(QFile::setPermissions(real, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        const bool root = ::geteuid() == 0;
        if (root) QCOMPARE(::chown(QFile::encodeName(real).constData(), 0, 1), 0); // group 1 (daemon), not root's
        const QString link = files_ + "/link.4th";
        QFile::remove(link);
        QVERIFY(QFile::link("elsewhere/real.4th", link)); // relative, as people make them
        QFile::remove(ini());
        const QString iniTarget = root_.path() + "/dotfiles/mirtolan.INI";
        WriteAll(iniTarget, "[Compile]\r\nVarBeg=A0\r\n");
        QVERIFY(QFile::link(iniTarget, ini()));
        {
            auto form = makeForm();
            openViaDialog(*form, link);
            typeAtEnd(*form, " ( two )");
            QVERIFY(form->Save());
            QVERIFY(form->close());
        }
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ReadAll(real), QByteArray(": one ; ( two )\r\n"));
        QCOMPARE(ModeOf(real) & 07777, mode_t(0640));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
        if (root) QCOMPARE(st.st_gid, gid_t(1));
        QCOMPARE(QDir(files_ + "/elsewhere").entryList(QDir::Files), QStringList{"real.4th"}); // no temporary left
        QVERIFY(QFileInfo(ini()).isSymLink());
        QVERIFY(ReadAll(iniTarget).contains("VarBeg=A0\r\n") && ReadAll(iniTarget).contains("[FormPosi]"));
        QFile::remove(ini());
    }

    // A pipe takes the text where it is, as the user asked, and stays a pipe.
    void savingIntoAPipeWritesInPlace() {
        const QString pipe = files_ + "/pipe.4th";
        QFile::remove(pipe);
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        auto form = makeForm();
        typeAtEnd(*form, ": piped ;");
        d_->savePath = pipe;
        QVERIFY(form->Save());
        char buf[64] = {};
        const ssize_t n = ::read(reader, buf, sizeof buf);
        ::close(reader);
        QCOMPARE(QByteArray(buf, int(std::max<ssize_t>(n, 0))), QByteArray(": piped ;\r\n"));
        QVERIFY(S_ISFIFO(ModeOf(pipe)));
        form->CheckDisk(); // a pipe has nothing to compare: no question, no reload
        QVERIFY(d_->questions.isEmpty());
        QCOMPARE(form->Source->toPlainText(), QString(": piped ;"));
    }

    // A read-only file is replaced only when the user says so, and stays read-only.
    void aReadOnlyFileAsksFirst() {
        const QString src = sourceFile("locked.4th", ": one ;\r\n");
        QVERIFY(QFile::setPermissions(src, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        auto form = formOn(src);
        typeAtEnd(*form, " ( two )");
        d_->answers << QMessageBox::No;
        QVERIFY(!form->Save());
        QCOMPARE(d_->questions.value(0), QString("locked.4th is read-only.\n\nReplace it anyway? The saved file stays read-only."));
        QCOMPARE(ReadAll(src), QByteArray(": one ;\r\n"));
        QVERIFY(form->Source->document()->isModified());
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->Save());
        QCOMPARE(ReadAll(src), QByteArray(": one ; ( two )\r\n"));
        QCOMPARE(ModeOf(src) & 0777, mode_t(0444));
    }

    // A file the user may write, in a folder they may not: the folder is
    // named as the cause, with what to do, and the file is left as it was.
    void aReadOnlyFolderIsNamedAsTheCause() {
        const bool root = ::geteuid() == 0;
        char pattern[] = "/tmp/mirtolan-folder-XXXXXX";
        QVERIFY(::mkdtemp(pattern));
        const QString top = QString::fromLocal8Bit(pattern);
        const QString folder = top + "/locked";
        const QString src = folder + "/mine.4th";
        WriteAll(src, ": one ;\r\n");
        QVERIFY(QFile::setPermissions(top, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                               QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
        if (root) QCOMPARE(::chown(QFile::encodeName(src).constData(), Nobody, Nobody), 0);
        {
            auto form = makeForm();
            openViaDialog(*form, src);
            typeAtEnd(*form, " ( two )");
            if (root) QCOMPARE(::seteuid(Nobody), 0);
            const bool saved = form->Save();
            if (root) QCOMPARE(::seteuid(0), 0);
            QVERIFY(!saved);
        }
        QCOMPARE(d_->errors.size(), 1);
        QVERIFY2(d_->errors[0].contains("The folder " + folder + " does not let you create files") &&
                     d_->errors[0].contains("Save As") && d_->errors[0].contains("chmod u+w"),
                 qPrintable(d_->errors[0]));
        QVERIFY(d_->questions.filter("read-only").isEmpty()); // the file itself is writable
        QCOMPARE(ReadAll(src), QByteArray(": one ;\r\n"));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(QDir(top).removeRecursively());
    }

    // Another program changes the open file: unedited text is reloaded at
    // once; edited text asks, and No keeps it for Save; Save never replaces
    // a change the window has not shown.
    void changesOnDiskAreNoticed() {
        const QString src = sourceFile("shared.4th", ": one ;\r\n: two ;\r\n");
        auto form = formOn(src);
        form->Source->goToLine(2);
        WriteAll(src, ": one ;\r\n: two 2 ;\r\n: three ;\r\n");
        QTRY_COMPARE(form->Source->toPlainText(), QString(": one ;\n: two 2 ;\n: three ;"));
        QVERIFY(d_->questions.isEmpty());
        QVERIFY(!form->Source->document()->isModified());
        QCOMPARE(form->Source->textCursor().blockNumber(), 1); // the cursor stays on its line
        QVERIFY(form->statusBar()->currentMessage().startsWith("Reloaded " + src));

        typeAtEnd(*form, " ( mine )");
        d_->answers << QMessageBox::No; // keep mine
        WriteAll(src, ": theirs ;\r\n");
        QTRY_COMPARE(d_->questions.size(), 1);
        QVERIFY(d_->questions[0].startsWith("shared.4th was changed on disk by another program."));
        QCOMPARE(form->Source->toPlainText(), QString(": one ;\n: two 2 ;\n: three ; ( mine )"));
        QVERIFY(form->Save()); // the user saw it and kept theirs: no second question
        QCOMPARE(d_->questions.size(), 1);
        QCOMPARE(ReadAll(src), QByteArray(": one ;\r\n: two 2 ;\r\n: three ; ( mine )\r\n"));

        // Changed again, and saved before the window has looked: Save asks, and No keeps the file.
        typeAtEnd(*form, " ( more )");
        WriteAll(src, ": newer ;\r\n");
        d_->answers << QMessageBox::No;
        QVERIFY(!form->Save());
        QVERIFY(d_->questions.value(1).startsWith("shared.4th was changed on disk by another program since"));
        QCOMPARE(ReadAll(src), QByteArray(": newer ;\r\n"));
        // Yes to the reload question loads the file and drops the edits.
        d_->answers << QMessageBox::Yes;
        form->CheckDisk();
        QCOMPARE(form->Source->toPlainText(), QString(": newer ;"));
        QVERIFY(!form->Source->document()->isModified());

        // Deleted: the text is all that is left, so closing asks to save it.
        QVERIFY(QFile::remove(src));
        form->CheckDisk();
        QVERIFY(form->Source->document()->isModified());
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->close());
        QCOMPARE(ReadAll(src), QByteArray(": newer ;\r\n"));
    }

    // An untitled source is built in a folder of its window's own, which
    // no other user may enter, and which goes with the window.
    void untitledBuildsUseAPrivateScratchFolder() {
        const QString exe = root_.path() + "/installed/bin";
        QVERIFY(QDir().mkpath(exe));
        QFile::link(QStringLiteral(MIRTOLAN_SHARE_PARENT), root_.path() + "/installed/share");
        QString first, second;
        {
            auto a = makeForm(exe, true);
            auto b = makeForm(exe, true);
            for (TForm1* form : {a.get(), b.get()}) {
                typeAtEnd(*form, "VARIABLE n\n: main 42 ;");
                form->BuildClick();
                QTRY_VERIFY_WITH_TIMEOUT(!form->Compiling(), 20000);
                // The Uno's chip of a first start, its variables in its SRAM while VarBeg keeps the ATmega32's 81.
                QVERIFY2(PaneLines(form->ErrorMemo).last().startsWith("Built the untitled source for the ATmega328P") &&
                             PaneLines(form->ErrorMemo).last().contains("; variables from $100, since VarBeg $81 lies below its SRAM"),
                         qPrintable(PaneLines(form->ErrorMemo).join('\n')));
                QVERIFY(QFileInfo::exists(form->ScratchFolderPath() + "/untitled.hex"));
                QCOMPARE(ModeOf(form->ScratchFolderPath()) & 0777, mode_t(0700));
                QVERIFY(form->ScratchFolderPath().startsWith(root_.path() + "/mirtolan-"));
            }
            first = a->ScratchFolderPath();
            second = b->ScratchFolderPath();
            QVERIFY(first != second);
            // A problem leads into the editor, as one of a saved file does.
            a->Source->selectAll();
            typeAtEnd(*a, ": main\n frob ;");
            a->BuildClick();
            QTRY_VERIFY_WITH_TIMEOUT(!a->Compiling(), 20000);
            QVERIFY(a->GoToMessageLine(PaneLines(a->ErrorMemo).value(0)));
            QCOMPARE(a->Source->textCursor().blockNumber(), 1);
        }
        QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(second));
    }
};

QTEST_MAIN(FileTest)
#include "file_test.moc"
