// Drives the real window: open through the dialog's code path, edit,
// compile, answer the questions through the message hook, close; then look
// at the panes, the .asm file, the source on disk and the settings file.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QTextBrowser>
#include <QDir>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QAbstractItemView>
#include <QCompleter>
#include <QSignalSpy>
#include <QSplitter>
#include <QWheelEvent>
#include <QKeyEvent>

#include <memory>

#include "FindReplaceBar.h"
#include "ListingView.h"
#include "Main.h"
#include "MessagePane.h"
#include "Settings.h"
#include "SourceEditor.h"
#include "TextFile.h"

#include "FormFixture.h"

class WindowTest : public FormFixture {
    Q_OBJECT

private slots:
    void firstStartWithoutSettings() {
        auto form = makeForm();
        QVERIFY2(d_->errors.isEmpty(), qPrintable(d_->errors.join('\n')));
        QCOMPARE(form->windowTitle(), QString("Mirtolan compiler , Version 1.3[*]"));
        QVERIFY(form->CheckBox1->isChecked());
        QVERIFY(!form->Zcall->isChecked());
        QCOMPARE(form->EdVarBeg->text(), QString("81"));
        QCOMPARE(form->LastDir(), std::string("c:"));
        QCOMPARE(form->pos(), QPoint(80, 80));
        QCOMPARE(form->Compile->text(), QString("Compile"));
        QCOMPARE(form->Compile->toolTip(), QString("compile"));
        QCOMPARE(form->SpeedButton1->toolTip(), QString("open file"));
        QCOMPARE(form->Zcall->text(), QString("Use Zcall"));
        QCOMPARE(form->CheckBox1->text(), QString("Include Header"));
        QCOMPARE(form->VarBeg->text(), QString("VarBeg $"));
        QCOMPARE(form->Label1->text(), QString("Errors, Compile Messages"));
        QVERIFY(form->Label1->font().bold());
        QCOMPARE(form->Button1->text(), QString("Filt"));
        form->show();
        QVERIFY(!form->Button1->isVisible());
        QVERIFY(form->AsmTxt->font().fixedPitch());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), form->Source); // typing goes to the editor at once
        for (QWidget* w : {static_cast<QWidget*>(form->Zcall), static_cast<QWidget*>(form->CheckBox1),
                           static_cast<QWidget*>(form->EdVarBeg)})
            QVERIFY(w->toolTip().size() > 40);
        form->Button1Click(); // nothing to filter outside a compile, and no harm done
        QVERIFY(d_->errors.isEmpty());

        // The first size shows the whole tool bar: at least the design's 645, wider where the bar needs it.
        const int width = form->width();
        QVERIFY(width >= 645 && width >= form->Panel1->sizeHint().width());
        QCOMPARE(form->height(), 467);
        // A fresh settings file starts with the Uno's chip; VarBeg keeps its default, so F9 compiles as ever.
        QCOMPARE(form->ChosenDevice().name, std::string_view("atmega328p"));
        QVERIFY(form->close());
        // The six keys as they always were, then the window's size, zoom and (it was shown) splitters.
        const QByteArray written = ReadAll(ini());
        QVERIFY2(written.startsWith("[Compile]\r\nHeader=1\r\nZcall=0\r\ndir=c:\r\nVarBeg=81\r\n"
                                    "[FormPosi]\r\nTop=80\r\nLeft=80\r\n"
                                    "Width=" + QByteArray::number(width) + "\r\nHeight=467\r\n[View]\r\nZoom=0\r\n"),
                 written.constData());
        QVERIFY(written.contains("\r\nEditorSplit="));
        QVERIFY(written.contains("[Build]\r\nDevice=atmega328p\r\n"));
    }

    void settingsAtStart_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("header");
        QTest::addColumn<bool>("zcall");
        QTest::addColumn<QString>("varBeg");
        QTest::addColumn<QPoint>("pos");
        QTest::newRow("Header 2 is on") << QByteArray("[Compile]\r\nHeader=2\r\n") << true << false << "81" << QPoint(80, 80);
        QTest::newRow("Header 0x0 is off") << QByteArray("[Compile]\r\nHeader=0x0\r\n") << false << false << "81" << QPoint(80, 80);
        QTest::newRow("Header yes is the default") << QByteArray("[Compile]\r\nHeader=yes\r\n") << true << false << "81" << QPoint(80, 80);
        QTest::newRow("Top abc is 80") << QByteArray("[FormPosi]\r\nTop=abc\r\nLeft=$20\r\n") << true << false << "81" << QPoint(32, 80);
        QTest::newRow("names in any case") << QByteArray("[COMPILE]\nzcall=1\nvarbeg=1A0\n[formposi]\nTOP=0x30\n") << true << true << "1A0" << QPoint(80, 48);
        QTest::newRow("empty VarBeg stays empty") << QByteArray("[Compile]\r\nVarBeg=\r\n") << true << false << "" << QPoint(80, 80);
    }
    void settingsAtStart() {
        QFETCH(QByteArray, file);
        QFETCH(bool, header);
        QFETCH(bool, zcall);
        QFETCH(QString, varBeg);
        QFETCH(QPoint, pos);
        WriteAll(ini(), file);
        auto form = makeForm();
        QCOMPARE(form->CheckBox1->isChecked(), header);
        QCOMPARE(form->Zcall->isChecked(), zcall);
        QCOMPARE(form->EdVarBeg->text(), varBeg);
        QCOMPARE(form->pos(), pos);
    }

    void offScreenPositionComesBack() {
        WriteAll(ini(), "[FormPosi]\r\nTop=-5000\r\nLeft=90000\r\n");
        auto form = makeForm();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(form->pos()), qPrintable(QString("%1,%2").arg(form->pos().x()).arg(form->pos().y())));
    }

    void closeKeepsForeignLinesAndWritesAllKeys() {
        WriteAll(ini(), "; my notes\r\n[Compile]\r\nzcall=1\r\nTheme=dark\r\n\r\n[Other]\r\nx=1\r\n");
        auto form = makeForm();
        form->EdVarBeg->setText("A0");
        form->CheckBox1->setChecked(false);
        form->move(100, 120);
        const QByteArray width = QByteArray::number(form->width()); // no size kept yet: the tool bar's
        QVERIFY(form->close());
        // A settings file from before the Device key keeps the ATmega32.
        QCOMPARE(ReadAll(ini()), QByteArray("; my notes\r\n[Compile]\r\nZcall=1\r\nTheme=dark\r\nHeader=0\r\n"
                                            "dir=c:\r\nVarBeg=A0\r\n\r\n[Other]\r\nx=1\r\n"
                                            "[FormPosi]\r\nTop=120\r\nLeft=100\r\n"
                            "Width=" + width + "\r\nHeight=467\r\n[View]\r\nZoom=0\r\nTabFocus=0\r\n"
                            "[Build]\r\nDevice=atmega32\r\nCells=8\r\nOptimise=0\r\n"));
    }

    // Typed into the window before any file is open: F9 compiles it and shows
    // its listing, writing no file and asking no name; with nothing typed it says why not.
    void compileBeforeAnyFileIsOpen() {
        auto form = makeForm();
        QVERIFY(form->Compile->isEnabled() && form->CompileAction->isEnabled());
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F9);
        QVERIFY2(form->statusBar()->currentMessage().startsWith("Nothing to compile yet"),
                 qPrintable(form->statusBar()->currentMessage()));
        typeAtEnd(*form, ": two 2 ;\nbogus");
        QTest::keyClick(form.get(), Qt::Key_F9);
        QVERIFY(d_->questions.isEmpty());
        QVERIFY(PaneLines(form->AsmTxt).contains("two:"));
        QCOMPARE(PaneLines(form->ErrorMemo).value(0), QString("Not defined bogus ,Line 2"));
        QVERIFY(form->GoToMessageLine("Not defined bogus ,Line 2")); // its messages lead into the editor
        QVERIFY(form->statusBar()->currentMessage().contains("not saved"));
        QCOMPARE(QDir(work_).entryList(QDir::Files), QStringList{"Mirtolan.arch"});
        QCOMPARE(QDir(form->ScratchFolderPath()).entryList(QDir::Files), QStringList{});
        QVERIFY(form->Source->document()->isModified()); // still unsaved: closing asks
        d_->answers << QMessageBox::No;
        QVERIFY(form->close());
        QCOMPARE(d_->questions.value(0), QString("Save changes to the source?"));
    }

    void openEditCompileAnswerYes() {
        const QString src = sourceFile("yes.4th", ": two 2 ;\r\n");
        auto form = formOn(src);
        QVERIFY(form->Compile->isEnabled());
        QCOMPARE(form->Source->toPlainText(), QString(": two 2 ;"));
        QCOMPARE(form->windowTitle(), QString("yes.4th[*] - Mirtolan compiler , Version 1.3"));
        QCOMPARE(form->LastDir(), files_.toStdString());
        QVERIFY(!form->isWindowModified());

        typeAtEnd(*form, "\n: four dup ;");
        QVERIFY(form->isWindowModified());
        d_->answers << QMessageBox::Yes;
        form->CompileClick();
        QCOMPARE(d_->questions, QStringList{"Save change befor compile?"});
        QCOMPARE(d_->questionButtons.value(0), QMessageBox::Yes | QMessageBox::No);
        QVERIFY2(d_->errors.isEmpty(), qPrintable(d_->errors.join('\n')));
        QCOMPARE(ReadAll(src), QByteArray(": two 2 ;\r\n: four dup ;\r\n"));
        QVERIFY(!form->isWindowModified());

        const QStringList listing = PaneLines(form->AsmTxt);
        QCOMPARE(listing.value(0), QString("; Mirtolan compiler Apr. 2001"));
        QVERIFY(listing.contains("two:"));
        QVERIFY(listing.contains("four:"));
        QVERIFY(listing.contains("DUP:"));
        const QString asmFile = files_ + "/yes.asm";
        QCOMPARE(ReadAll(asmFile), (listing.join("\r\n") + "\r\n").toLatin1());
        QCOMPARE(PaneLines(form->ErrorMemo), (QStringList{"Compile Completed", "Variable end: $0080"}));
        QVERIFY2(form->statusBar()->currentMessage().startsWith("Compiled 2 lines, 0 messages, wrote " + asmFile),
                 qPrintable(form->statusBar()->currentMessage()));

        // Unedited since: no question, and the header option is read again.
        form->CheckBox1->setChecked(false);
        form->CompileClick();
        QCOMPARE(d_->questions.size(), 1);
        QCOMPARE(PaneLines(form->AsmTxt).value(0), QString(";*******************************"));
        QVERIFY(form->close());
        QVERIFY(ReadAll(ini()).contains("dir=" + files_.toLatin1() + "\r\n"));
    }

    void answerNoLeavesTheFile() {
        const QString src = sourceFile("no.4th", ": two 2 ;\r\n");
        auto form = formOn(src);
        typeAtEnd(*form, "\n: three 3 ;");
        d_->answers << QMessageBox::No;
        form->CompileClick();
        QCOMPARE(d_->questions.size(), 1);
        QCOMPARE(ReadAll(src), QByteArray(": two 2 ;\r\n"));
        QVERIFY(PaneLines(form->AsmTxt).contains("three:")); // the edited text is what got compiled
        QVERIFY(ReadAll(files_ + "/no.asm").contains("three:\r\n"));
        form->CompileClick();
        QCOMPARE(d_->questions.size(), 1); // not asked again until the next edit
        typeAtEnd(*form, " ");
        d_->answers << QMessageBox::No;
        form->CompileClick();
        QCOMPARE(d_->questions.size(), 2);
        QVERIFY(form->isWindowModified()); // compiled, but still not saved
        d_->answers << QMessageBox::Cancel;
        QVERIFY(!form->close()); // closing asks, and Cancel keeps the window
        QCOMPARE(d_->questions.value(2), QString("Save changes to no.4th?"));
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->close());
        QCOMPARE(ReadAll(src), QByteArray(": two 2 ;\r\n: three 3 ; \r\n"));
    }

    void failedSaveStopsTheCompile() {
        QTemporaryDir gone;
        const QString src = gone.path() + "/lost.4th";
        WriteAll(src, ": two 2 ;\r\n");
        auto form = formOn(src);
        d_->answers << QMessageBox::No;
        typeAtEnd(*form, " ");
        form->CompileClick(); // leaves a listing in the panes
        const QString listing = ListingText(form->AsmTxt);
        QVERIFY(!listing.isEmpty());
        QVERIFY(gone.remove()); // the folder vanishes: the save cannot be written
        typeAtEnd(*form, "\n: three 3 ;");
        d_->answers << QMessageBox::Yes;
        form->CompileClick();
        QCOMPARE(d_->errors.size(), 1);
        QCOMPARE(ListingText(form->AsmTxt), listing); // the compile never started
        QVERIFY(form->Source->document()->isModified());
        d_->answers << QMessageBox::No;
        form->CompileClick();
        QCOMPARE(d_->questions.size(), 3); // asked again
        d_->answers << QMessageBox::No;
        QVERIFY(form->close()); // the edits compiled after No are still unsaved: asked
        QCOMPARE(d_->questions.size(), 4);
    }

    void useZcallInTheSourceStays() {
        const QString src = sourceFile("z.4th", "USEZCALL\r\n: four dup dup ;\r\n");
        auto form = formOn(src);
        QVERIFY(!form->Zcall->isChecked());
        form->CompileClick();
        QVERIFY(form->Zcall->isChecked());
        QVERIFY(PaneLines(form->AsmTxt).contains("\tZjmp\tdup"));
        QVERIFY(form->close());
        QVERIFY(ReadAll(ini()).contains("Zcall=1\r\n"));
        auto again = makeForm();
        QVERIFY(again->Zcall->isChecked());
    }

    void sixteenBitCellsAreChosenAndKept() {
        // The 16-bit cells' archive lies beside the main one.
        WriteAll(work_ + "/Mirtolan16.arch", "$$ _TestIfZero\r\n\tld\tFtmp1,Y+\r\n\tld\tFtmp2,Y+\r\n$\r\n");
        const QString src = sourceFile("wide.4th", ": main 1000 ;\r\n");
        auto form = formOn(src);
        QCOMPARE(form->ChosenCellBits(), 8);
        form->CellsBox->setCurrentIndex(1);
        form->CompileClick();
        const QStringList listing = PaneLines(form->AsmTxt);
        QVERIFY2(listing.contains(".equ\tCELL_BITS\t= 16") && listing.contains("\tldi\tFtmp1,3") &&
                     listing.contains("\tldi\tFtmp1,232"),
                 qPrintable(listing.join('\n')));
        QVERIFY(form->close());
        QVERIFY(ReadAll(ini()).contains("Cells=16\r\n"));
        auto again = makeForm();
        QCOMPARE(again->ChosenCellBits(), 16);
        QFile::remove(work_ + "/Mirtolan16.arch");
    }

    // The Optimise box compiles with the optimiser, and the settings keep it.
    void optimiseIsChosenAndKept() {
        const QString src = sourceFile("fast.4th", ": two 2 ;\r\n: main two two ;\r\n");
        auto form = formOn(src);
        QVERIFY(!form->OptimiseBox->isChecked());
        form->CompileClick();
        QVERIFY(PaneLines(form->AsmTxt).contains("\trjmp\ttwo"));
        form->OptimiseBox->setChecked(true);
        form->CompileClick();
        const QStringList listing = PaneLines(form->AsmTxt);
        QVERIFY2(listing.contains(".equ\t_ROPT\t= 1") && !listing.contains("\trjmp\ttwo"), qPrintable(listing.join('\n')));
        QVERIFY(form->close());
        QVERIFY(ReadAll(ini()).contains("Optimise=1\r\n"));
        auto again = makeForm();
        QVERIFY(again->OptimiseBox->isChecked());
    }

    void badVarStartIsReported() {
        const QString src = sourceFile("var.4th", "VARIABLE x\r\n");
        auto form = formOn(src);
        form->EdVarBeg->setText("8 1");
        form->CompileClick();
        QCOMPARE(d_->errors.size(), 1);
        QVERIFY2(d_->errors[0].contains("$8 1"), qPrintable(d_->errors[0]));
        QVERIFY(form->ErrorMemo->toPlainText().isEmpty());
        QVERIFY(!QFile::exists(files_ + "/var.asm"));
        QVERIFY(form->statusBar()->currentMessage().startsWith("Compile abandoned"));
        form->EdVarBeg->setText("1A0");
        form->CompileClick();
        QCOMPARE(PaneLines(form->ErrorMemo).value(1), QString("Variable end: $01A0"));
    }

    void openingAnotherFileAsksAboutEdits() {
        const QString first = sourceFile("first.4th", ": one 1 ;\r\n");
        const QString second = sourceFile("second.4th", ": two 2 ;\r\n");
        auto form = makeForm();
        openViaDialog(*form, first);
        typeAtEnd(*form, " \\\\ edited");
        d_->answers << QMessageBox::Cancel;
        openViaDialog(*form, second);
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ; \\\\ edited"));
        QCOMPARE(form->State().SourceFileName, first.toStdString());

        d_->answers << QMessageBox::No;
        openViaDialog(*form, second);
        QCOMPARE(form->Source->toPlainText(), QString(": two 2 ;"));
        QCOMPARE(ReadAll(first), QByteArray(": one 1 ;\r\n"));

        typeAtEnd(*form, " ( edited )");
        d_->answers << QMessageBox::Yes;
        openViaDialog(*form, first);
        QCOMPARE(ReadAll(second), QByteArray(": two 2 ; ( edited )\r\n"));
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;"));
        QCOMPARE(d_->questionButtons.value(2), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

        // A file that cannot be read changes nothing.
        d_->openPath = files_ + "/absent.4th";
        form->SpeedButton1Click();
        QCOMPARE(d_->errors.size(), 1);
        QCOMPARE(form->State().SourceFileName, first.toStdString());
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;"));
    }

    void closingAsksAboutEdits() {
        const QString src = sourceFile("close.4th", ": one 1 ;\r\n");
        auto form = formOn(src);
        typeAtEnd(*form, "\n: two 2 ;");
        d_->answers << QMessageBox::Cancel;
        QVERIFY(!form->close());
        QVERIFY(!QFile::exists(ini()));
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->close());
        QCOMPARE(ReadAll(src), QByteArray(": one 1 ;\r\n: two 2 ;\r\n"));
        QVERIFY(QFile::exists(ini()));
    }

    void latin1BytesRoundTrip() {
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            if (b != '\r' && b != '\n') bytes.append(char(b));
        const QString src = sourceFile("bytes.4th", bytes + "\r\n\\\\ \xe9t\xe9\r\n");
        auto form = formOn(src);
        QCOMPARE(form->Source->document()->blockCount(), 2);
        typeAtEnd(*form, "\n");
        d_->answers << QMessageBox::Yes;
        form->CompileClick();
        QCOMPARE(ReadAll(src), bytes + "\r\n\\\\ \xe9t\xe9\r\n\r\n");
        QVERIFY(ReadAll(files_ + "/bytes.asm").contains("; \xe9t\xe9\r\n"));
        QVERIFY(PaneLines(form->AsmTxt).contains(QString::fromLatin1("; \xe9t\xe9")));
    }

    void doubleClickOnMessageGoesToLine() {
        const QString src = sourceFile("msg.4th", ": one 1 ;\r\n\r\nbogus\r\n: two 2 ;\r\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openViaDialog(*form, src);
        form->CompileClick();
        QCOMPARE(PaneLines(form->ErrorMemo).value(0), QString("Not defined bogus ,Line 3"));
        QCOMPARE(form->Source->textCursor().blockNumber(), 0);
        const QRect first = form->ErrorMemo->cursorRect(QTextCursor(form->ErrorMemo->document()->firstBlock()));
        QTest::mouseDClick(form->ErrorMemo->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
        QCOMPARE(form->Source->textCursor().blockNumber(), 2);

        QVERIFY(form->GoToMessageLine("Conditional not matched. Line 4"));
        QCOMPARE(form->Source->textCursor().blockNumber(), 3);
        QVERIFY(form->GoToMessageLine("EndCase missing  ,Line 99")); // past the end: the last line
        QCOMPARE(form->Source->textCursor().blockNumber(), 3);
        QVERIFY(!form->GoToMessageLine("Compile Completed"));
        QVERIFY(!form->GoToMessageLine("x ,Line 99999999999999999999"));
    }

    void keyboardOpenCompileFindQuit() {
        const QString src = sourceFile("keys.4th", ": one 1 ;\r\n: two one one ;\r\n: three two one ;\r\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        d_->openPath = src;
        QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(form->State().SourceFileName, src.toStdString());
        QTest::keyClick(form.get(), Qt::Key_F9);
        QVERIFY(QFile::exists(files_ + "/keys.asm"));

        QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form->FindBar->isVisible());
        QTest::keyClicks(form->FindText, "one");
        QTest::keyClick(form->FindText, Qt::Key_Return);
        QCOMPARE(form->Source->textCursor().blockNumber(), 0);
        QTest::keyClick(form.get(), Qt::Key_F3);
        QCOMPARE(form->Source->textCursor().blockNumber(), 1);
        QTest::keyClick(form.get(), Qt::Key_F3);
        QTest::keyClick(form.get(), Qt::Key_F3);
        QCOMPARE(form->Source->textCursor().blockNumber(), 2);
        QTest::keyClick(form.get(), Qt::Key_F3); // wraps to the top
        QCOMPARE(form->Source->textCursor().blockNumber(), 0);
        QTest::keyClick(form.get(), Qt::Key_F3, Qt::ShiftModifier); // and back round the other way
        QCOMPARE(form->Source->textCursor().blockNumber(), 2);
        QCOMPARE(form->Source->textCursor().selectedText(), QString("one"));

        form->Source->setFocus();
        QTest::keyClick(form->Source, Qt::Key_End);
        QTest::keyClicks(form->Source, " ");
        QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(ReadAll(src), QByteArray(": one 1 ;\r\n: two one one ;\r\n: three two one ; \r\n"));
        QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!form->isVisible());
        QVERIFY(d_->questions.isEmpty());
        const QByteArray settings = ReadAll(ini());
        for (const char* key : {"Header=", "Zcall=", "dir=", "VarBeg=", "Top=", "Left="})
            QVERIFY2(settings.contains(QByteArray("\r\n") + key), key);
    }

    void recentFilesAreKept() {
        WriteAll(ini(), "[Compile]\r\nHeader=1\r\n");
        QStringList opened;
        {
            auto form = makeForm();
            QVERIFY(form->RecentFiles().isEmpty());
            for (int i = 1; i <= 9; ++i) {
                opened.prepend(sourceFile(QString("r%1.4th").arg(i), ": w ;\r\n"));
                openViaDialog(*form, opened.first());
            }
            openViaDialog(*form, opened.at(3)); // opened again: moves to the top, not in twice
            opened.move(3, 0);
            QCOMPARE(form->RecentFiles(), opened.mid(0, 8));
            QCOMPARE(form->Recent1->actions().size(), 8);
            QVERIFY(form->close());
        }
        const QByteArray settings = ReadAll(ini());
        QVERIFY(settings.contains("[Recent]\r\nFile1=" + opened.at(0).toLatin1() + "\r\n"));
        QVERIFY(settings.contains("File8=" + opened.at(7).toLatin1() + "\r\n"));
        QVERIFY(!settings.contains("File9="));
        auto again = makeForm();
        QCOMPARE(again->RecentFiles(), opened.mid(0, 8));
        again->Recent1->actions().at(2)->trigger();
        QCOMPARE(again->State().SourceFileName, opened.at(2).toStdString());
    }

    void droppedFileOpens() {
        const QString src = sourceFile("drop.4th", ": dropped ;\r\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(src)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &drop);
        QCOMPARE(form->State().SourceFileName, src.toStdString());

        // Onto the source pane: the file opens instead of its name being pasted.
        const QString other = sourceFile("drop2.4TH", ": other ;\r\n");
        QMimeData mime2;
        mime2.setUrls({QUrl::fromLocalFile(other)});
        mime2.setText(other);
        QDragEnterEvent enterPane(QPoint(5, 5), Qt::CopyAction, &mime2, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->Source->viewport(), &enterPane);
        QVERIFY(enterPane.isAccepted());
        QDropEvent onPane(QPointF(5, 5), Qt::CopyAction, &mime2, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->Source->viewport(), &onPane);
        QCOMPARE(form->Source->toPlainText(), QString(": other ;"));

        QMimeData notForth;
        notForth.setUrls({QUrl::fromLocalFile(files_ + "/picture.png")});
        QVERIFY(DroppedSourceFile(&notForth).isEmpty());
    }

    void shippedArchiveAndNoArchive() {
        // No archive in the working directory: the one beside bin/ in share/mirtolan is used.
        QTemporaryDir tree;
        const QString exeDir = tree.path() + "/bin";
        QDir().mkpath(exeDir);
        WriteAll(tree.path() + "/share/mirtolan/Mirtolan.arch", TestArchive);
        QTemporaryDir empty;
        QVERIFY(QDir::setCurrent(empty.path()));
        const QString src = sourceFile("arch.4th", ": four dup ;\r\n");
        {
            auto form = makeForm(exeDir);
            QVERIFY2(d_->errors.isEmpty(), qPrintable(d_->errors.join('\n')));
            openViaDialog(*form, src);
            form->CompileClick();
            QVERIFY(PaneLines(form->AsmTxt).contains("DUP:"));
        }
        // Neither: reported at start, the window opens and compiles fail with a report.
        {
            auto form = makeForm(empty.path() + "/bin");
            QCOMPARE(d_->errors.size(), 1);
            // The box says where it looked and what to do.
            QVERIFY2(d_->errors[0].contains(empty.path() + "/Mirtolan.arch") &&
                         d_->errors[0].contains(empty.path() + "/share/mirtolan/Mirtolan.arch") &&
                         d_->errors[0].contains("install the run-time"),
                     qPrintable(d_->errors[0]));
            openViaDialog(*form, src);
            form->CompileClick();
            QCOMPARE(d_->errors.size(), 2);
            QVERIFY(!form->ErrorMemo->toPlainText().contains("Compile Completed"));
        }
        QVERIFY(QDir::setCurrent(work_));
    }

    void textRoundTripsInItsOwnEncoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8") << QByteArray("\\\\ Z\xc3\xa4hler \xe2\x82\xac\r\n: two 2 ;\r\n")
                               << QString::fromUtf8("\\\\ Z\xc3\xa4hler \xe2\x82\xac");
        QTest::newRow("Latin-1") << QByteArray("\\\\ Z\xe4hler\r\n: two 2 ;\r\n") << QString::fromUtf8("\\\\ Z\xc3\xa4hler");
    }
    void textRoundTripsInItsOwnEncoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString src = sourceFile("enc.4th", bytes);
        auto form = formOn(src);
        QCOMPARE(form->Source->document()->firstBlock().text(), shown);
        // An edit undone by another: the save must give back the very bytes.
        typeAtEnd(*form, "x");
        QTest::keyClick(form->Source, Qt::Key_Backspace);
        QVERIFY(form->Save());
        QCOMPARE(ReadAll(src), bytes);
        // The compiler sees the file's bytes: the comment reaches the listing unchanged.
        form->CompileClick();
        const QByteArray comment = bytes.left(bytes.indexOf('\r')).mid(2);
        QVERIFY(ReadAll(files_ + "/enc.asm").contains(";" + comment + "\r\n"));
        QVERIFY(PaneLines(form->AsmTxt).contains(";" + shown.mid(2)));
    }

    void aCharacterTheFileCannotHoldIsNeverReplaced() {
        const QString src = sourceFile("latin.4th", "\\\\ Z\xe4hler\r\n");
        auto form = formOn(src);
        QCOMPARE(form->SourceEncoding(), TextEncoding::Latin1);
        typeAtEnd(*form, QString::fromUtf8(" \xe2\x82\xac"));
        d_->answers << QMessageBox::No;
        QVERIFY(!form->Save());
        QVERIFY2(d_->questions.value(0).contains("Save it as UTF-8?"), qPrintable(d_->questions.value(0)));
        QCOMPARE(ReadAll(src), QByteArray("\\\\ Z\xe4hler\r\n"));
        QVERIFY(form->isWindowModified());
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->Save());
        QCOMPARE(ReadAll(src), QByteArray("\\\\ Z\xc3\xa4hler \xe2\x82\xac\r\n"));
        QCOMPARE(form->SourceEncoding(), TextEncoding::Utf8);

        // A pure ASCII file becomes UTF-8 without a question: nothing in it changes.
        const QString ascii = sourceFile("ascii.4th", ": a ;\r\n");
        openViaDialog(*form, ascii);
        typeAtEnd(*form, QString::fromUtf8(" \\\\ \xe2\x86\x92"));
        QVERIFY(form->Save());
        QCOMPARE(d_->questions.size(), 2);
        QCOMPARE(ReadAll(ascii), QByteArray(": a ; \\\\ \xe2\x86\x92\r\n"));
    }

    // Ctrl+B builds the editor's text for the chosen device off the window's
    // thread; the problems lead to their lines like the compile's messages.
    void buildFromTheWindow() {
        // A program folder with the shipped run-time beside its bin/, as installed.
        const QString exe = root_.path() + "/installed/bin";
        QVERIFY(QDir().mkpath(exe));
        QFile::link(QStringLiteral(MIRTOLAN_SHARE_PARENT), root_.path() + "/installed/share");
        const QString src = sourceFile("blink.4th", ": main\r\n  frob ;\r\n");
        auto form = makeForm(exe, true);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->BuildClick(); // nothing typed, nothing open: it says why not
        QVERIFY(form->statusBar()->currentMessage().startsWith("Nothing to compile yet"));
        openViaDialog(*form, src);
        QVERIFY(form->Build1->isEnabled());
        form->ChooseDevice(*FindDevice("atmega32"));
        form->ChooseDevice(*FindDevice("atmega328p"));
        QCOMPARE(form->EdVarBeg->text(), QString("100")); // the device's first free SRAM address

        QTest::keyClick(form.get(), Qt::Key_B, Qt::ControlModifier);
        QVERIFY(form->Building() || !PaneLines(form->ErrorMemo).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!form->Compiling(), 20000);
        QStringList lines = PaneLines(form->ErrorMemo);
        QVERIFY2(lines.value(0).startsWith(src + ":2: error: 'frob' is not defined"), qPrintable(lines.join('\n')));
        QVERIFY(lines.last().startsWith("Build failed: no .hex written"));
        QVERIFY(!QFileInfo::exists(files_ + "/blink.hex"));
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(form->Source->textCursor().blockNumber(), 1);

        // Mended in the editor: the build takes the editor's text, after the usual question.
        form->Source->selectAll();
        QTest::keyClicks(form->Source, ": main 7 ;");
        d_->answers << QMessageBox::No;
        form->BuildClick();
        QTRY_VERIFY_WITH_TIMEOUT(!form->Compiling(), 20000);
        lines = PaneLines(form->ErrorMemo);
        QVERIFY2(lines.last().startsWith("Built " + files_ + "/blink.hex for the ATmega328P"), qPrintable(lines.join('\n')));
        QVERIFY(QFileInfo::exists(files_ + "/blink.hex"));
        QVERIFY(form->Source->document()->isModified()); // No left the edits unsaved

        d_->answers << QMessageBox::No; // discard the edits at close
        QVERIFY(form->close());
        QVERIFY(ReadAll(exe + "/mirtolan.INI").contains("[Build]\r\nDevice=atmega328p\r\n"));
        auto again = makeForm(exe);
        QCOMPARE(again->ChosenDevice().name, std::string_view("atmega328p"));
    }

    void keyboardStepsThroughMessages() {
        const QString src = sourceFile("nav.4th", ": one 1 ;\r\n\r\nbogus\r\n: two 2 ;\r\nfrob\r\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        openViaDialog(*form, src);
        QVERIFY(form->Source->hasFocus()); // typing can start at once
        QTest::keyClick(form.get(), Qt::Key_F9);
        QCOMPARE(form->Source->markedLines(), (std::vector<int>{3, 5}));
        QVERIFY(form->Source->toolTipAt(form->Source->document()->findBlockByNumber(2).position())
                    .contains("Not defined bogus"));
        auto line = [&] { return form->Source->textCursor().blockNumber() + 1; };
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(line(), 3);
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(line(), 5);
        QTest::keyClick(form.get(), Qt::Key_F4); // round to the first again
        QCOMPARE(line(), 3);
        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ShiftModifier);
        QCOMPARE(line(), 5);
        QCOMPARE(form->Position->text(), QString("5:1"));

        // Enter in the message pane goes where a double-click goes.
        form->ErrorMemo->setFocus();
        form->ErrorMemo->setTextCursor(QTextCursor(form->ErrorMemo->document()->firstBlock()));
        QTest::keyClick(form->ErrorMemo, Qt::Key_Return);
        QCOMPARE(line(), 3);

        // Diagnostics of other tools: only those about this file lead anywhere.
        form->AppendDiagnostic(src + ":4: error: from a build");
        form->AppendDiagnostic("elsewhere.4th:2: error: not this file");
        QCOMPARE(form->Source->markedLines(), (std::vector<int>{3, 4, 5}));
        QVERIFY(form->GoToMessageLine("nav.4th:4: warning: relative to the source"));
        QCOMPARE(line(), 4);
        QVERIFY(!form->GoToMessageLine("elsewhere.4th:2: error: x"));

        // Another file open: the messages of nav.4th's compile stay where they belong.
        const QString other = sourceFile("other.4th", "a\r\nb\r\nc\r\nd\r\ne\r\n");
        openViaDialog(*form, other);
        QVERIFY(form->Source->markedLines().empty());
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(line(), 1);
        QVERIFY(!form->GoToMessageLine("Not defined bogus ,Line 3"));
    }

    void editingFromTheKeyboard() {
        const QString src = sourceFile("edit.4th", ": one 1 ;\r\n  : two one one ;\r\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        openViaDialog(*form, src);
        QTextCursor c = form->Source->textCursor();
        c.movePosition(QTextCursor::Start);
        c.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor);
        c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        form->Source->setTextCursor(c);
        QTest::keyClick(form.get(), Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(form->Source->toPlainText(), QString("\\\\ : one 1 ;\n  \\\\ : two one one ;"));
        QTest::keyClick(form.get(), Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;\n  : two one one ;"));
        QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(form->Source->toPlainText(), QString("\\\\ : one 1 ;\n  \\\\ : two one one ;"));
        QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;\n  : two one one ;"));

        // Auto-indent keeps the indentation of the line above.
        typeAtEnd(*form, "\nx");
        QCOMPARE(form->Source->document()->lastBlock().text(), QString("  x"));
        QTest::keyClick(form->Source, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;\n  : two one one ;"));

        // Replace: whole words and case as asked, all at once.
        QTest::keyClick(form.get(), Qt::Key_H, Qt::ControlModifier);
        QVERIFY(form->FindBar->isVisible());
        QTRY_VERIFY(form->ReplaceText->isVisible()); // the bar lays out its items on its next turn
        form->FindText->setText("ONE");
        form->ReplaceText->setText("uno");
        form->WholeWords->setChecked(true);
        form->MatchCase->setChecked(true);
        QCOMPARE(form->ReplaceAll(), 0);
        form->MatchCase->setChecked(false);
        QCOMPARE(form->ReplaceAll(), 3);
        QCOMPARE(form->Source->toPlainText(), QString(": uno 1 ;\n  : two uno uno ;"));
        QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier); // one undo step
        QCOMPARE(form->Source->toPlainText(), QString(": one 1 ;\n  : two one one ;"));

        // The cursor on IF marks its ELSE and THEN.
        form->Source->selectAll();
        QTest::keyClicks(form->Source, ": s IF 1 ELSE 2 THEN ;");
        form->Source->goToLine(1);
        QTextCursor at = form->Source->textCursor();
        at.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 5);
        form->Source->setTextCursor(at);
        QCOMPARE(form->Source->matchingWords().size(), std::size_t(3));

        // Completion offers the source's words and the archive's, with stack comments from the archive.
        typeAtEnd(*form, "\n: t D");
        QTest::keyClick(form->Source, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(form->Source->completer()->popup()->isVisible());
        QCOMPARE(form->Source->completer()->currentCompletion(), QString("DUP"));
        QTest::keyClick(form->Source->completer()->popup(), Qt::Key_Return);
        QCOMPARE(form->Source->document()->lastBlock().text(), QString(": t DUP"));
        typeAtEnd(*form, " s");
        QTest::keyClick(form->Source, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(form->Source->completer()->currentCompletion(), QString("s"));
        QTest::keyClick(form->Source->completer()->popup(), Qt::Key_Escape);
        const QTextBlock last = form->Source->document()->lastBlock();
        QCOMPARE(form->Source->toolTipAt(last.position() + 4), QString("DUP ( n -- n n )"));
        d_->answers << QMessageBox::No;
    }

    void zoomSizeAndSplittersAreRemembered() {
        {
            auto form = makeForm();
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            const qreal base = form->Source->font().pointSizeF();
            QTest::keyClick(form.get(), Qt::Key_Equal, Qt::ControlModifier);
            QTest::keyClick(form.get(), Qt::Key_Equal, Qt::ControlModifier);
            QCOMPARE(form->Source->font().pointSizeF(), base + 2);
            QCOMPARE(form->AsmTxt->font().pointSizeF(), base + 2);
            QTest::keyClick(form.get(), Qt::Key_Minus, Qt::ControlModifier);
            QCOMPARE(form->Zoom(), 1);
            QWheelEvent wheel(QPointF(5, 5), form->Source->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 240),
                              Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(form->Source->viewport(), &wheel);
            QCOMPARE(form->Zoom(), 3);
            form->resize(700, 500);
            form->Columns->setSizes({500, 180});
            QVERIFY(form->close());
        }
        const QByteArray ini = ReadAll(this->ini());
        QVERIFY2(ini.contains("Zoom=3\r\n") && ini.contains("Width=700\r\n"), ini.constData());
        auto again = makeForm();
        again->show();
        QVERIFY(QTest::qWaitForWindowExposed(again.get()));
        QCOMPARE(again->Zoom(), 3);
        QCOMPARE(again->size(), QSize(700, 500));
        // The stored widths come back (the splitter rounds by a handle's width or so).
        QVERIFY2(qAbs(again->Columns->sizes().value(0) - 500) <= 16, qPrintable(QString::number(again->Columns->sizes().value(0))));
        QVERIFY(again->Columns->sizes().value(0) > again->Columns->sizes().value(1) * 2);
        QTest::keyClick(again.get(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(again->Zoom(), 0);
    }

    void newSourceAndSaveAsAddsTheExtension() {
        auto form = makeForm();
        form->NewFile();
        QVERIFY(form->Source->toPlainText().contains(": main"));
        QCOMPARE(form->windowTitle(), QString("untitled.4th[*] - Mirtolan compiler , Version 1.3"));
        // A new source compiles without a name: no file is written for it.
        form->CompileClick();
        QVERIFY(PaneLines(form->AsmTxt).contains("main:"));
        QVERIFY(form->State().SourceFileName.empty());
        // Saving names it; a name typed bare gets ".4th", and a file of that name is not replaced unasked.
        const QString taken = sourceFile("fresh.4th", ": old ;\r\n");
        d_->savePath = files_ + "/fresh";
        d_->answers << QMessageBox::No;
        QVERIFY(!form->Save());
        QCOMPARE(d_->questions.value(0), QString("fresh.4th already exists.\n\nReplace it?"));
        QCOMPARE(ReadAll(taken), QByteArray(": old ;\r\n"));
        QVERIFY(form->State().SourceFileName.empty());
        d_->answers << QMessageBox::Yes;
        QVERIFY(form->Save());
        QCOMPARE(form->State().SourceFileName, taken.toStdString());
        QVERIFY(ReadAll(taken).contains(": main ( -- )\r\n")); // a new file ends its lines with CR LF
        QVERIFY(!QFileInfo::exists(files_ + "/fresh"));
    }

    void listingViewShowsTheListingFile() {
        QByteArray text;
        for (int i = 0; i < 300; ++i) text += ": w" + QByteArray::number(i) + " dup IF dup THEN ;\r\n";
        const QString src = sourceFile("many.4th", text);
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openViaDialog(*form, src);
        form->CompileClick();
        const QByteArray file = ReadAll(files_ + "/many.asm");
        QCOMPARE((PaneLines(form->AsmTxt).join("\r\n") + "\r\n").toLatin1(), file);
        // Keys move through the lines; Ctrl+C copies what is selected.
        form->AsmTxt->setFocus();
        QTest::keyClick(form->AsmTxt, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(form->AsmTxt->selectionLast(), form->AsmTxt->lineCount() - 1);
        QVERIFY(form->AsmTxt->firstVisibleLine() > 0);
        QTest::keyClick(form->AsmTxt, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(form->AsmTxt->selectedText(), PaneLines(form->AsmTxt).mid(int(form->AsmTxt->lineCount()) - 2).join('\n') + '\n');
    }

    void compileOnAWorkerLeavesTheWindowFree() {
        QByteArray text;
        for (int i = 0; i < 3000; ++i) text += ": w" + QByteArray::number(i) + " dup IF dup THEN ;\r\n";
        text += "bogus\r\n";
        const QString src = sourceFile("worker.4th", text);
        const QString other = sourceFile("other2.4th", ": x ;\r\n");
        auto form = makeForm(QString(), true);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openViaDialog(*form, src);
        QSignalSpy done(form.get(), &TForm1::compiled);
        form->CompileClick();
        // Back at once, with the panes emptied and nothing that would pull the file away.
        QVERIFY(form->Compiling());
        QCOMPARE(form->statusBar()->currentMessage(), QString::fromUtf8("Compiling\xe2\x80\xa6"));
        QCOMPARE(form->AsmTxt->lineCount(), std::size_t(0));
        QVERIFY(!form->Open1->isEnabled() && !form->CompileAction->isEnabled());
        QVERIFY(!form->OpenFileAsking(other));
        form->CompileClick(); // a second F9 waits for the first
        // Typing goes on meanwhile (into the editor, not into this compile).
        typeAtEnd(*form, " ");
        QVERIFY(!form->close()); // closing waits for the compile, then closes
        QVERIFY(done.wait(30000));
        QCOMPARE(done.size(), 1);
        QVERIFY(!form->Compiling());
        QVERIFY(PaneLines(form->AsmTxt).contains("w2999:"));
        QCOMPARE(PaneLines(form->ErrorMemo).value(0), QString("Not defined bogus ,Line 3001"));
        QCOMPARE(form->Source->markedLines(), (std::vector<int>{3001}));
        QVERIFY(form->Open1->isEnabled());
        // The deferred close asked about the typed space; the test's answer (none) kept the window.
        QCOMPARE(d_->questions.value(0), QString("Save changes to worker.4th?"));
        d_->answers << QMessageBox::No;
        QVERIFY(form->close());
    }

    void aLargeSourceIsColouredWhereItIsSeen() {
        QByteArray text;
        for (int i = 0; i < 25000; ++i) text += ": w" + QByteArray::number(i) + " 1 IF 2 THEN ;\r\n";
        const QString src = sourceFile("large.4th", text);
        auto form = makeForm();
        form->resize(600, 400);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openViaDialog(*form, src);
        auto coloured = [&](int line) {
            return !form->Source->document()->findBlockByNumber(line - 1).layout()->formats().isEmpty();
        };
        QTRY_VERIFY(coloured(1));
        QVERIFY(!coloured(24000));
        form->Source->goToLine(24000);
        QTRY_VERIFY(coloured(24000));
        // A small source is coloured whole, seen or not.
        openViaDialog(*form, sourceFile("small.4th", text.left(text.indexOf("w900 "))));
        QVERIFY(coloured(850));
    }

    void helpShowsTheLanguageReference() {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F1);
        auto* reference = form->findChild<QDialog*>("LanguageReference");
        QVERIFY(reference && reference->isVisible());
        auto* browser = reference->findChild<QTextBrowser*>();
        QVERIFY(browser->toPlainText().startsWith("The language"));
        QVERIFY(browser->toPlainText().contains("Control structures"));
        QVERIFY(browser->toPlainText().contains("Word reference")); // each archive word follows
        reference->close();
    }

    void settingsInConfigDirWhenExeDirIsNotWritable() {
        const QString exeDir = root_.path() + "/readonly-bin"; // does not exist, so it cannot be written
        const QString expected = root_.path() + "/xdg/mirtolan/mirtolan.INI";
        QFile::remove(expected);
        {
            auto form = makeForm(exeDir);
            QCOMPARE(QString::fromStdString(form->SettingsPath()), expected);
            form->EdVarBeg->setText("C0");
            QVERIFY(form->close());
        }
        QVERIFY(ReadAll(expected).contains("VarBeg=C0\r\n"));
        QVERIFY(d_->errors.isEmpty());
        auto again = makeForm(exeDir);
        QCOMPARE(again->EdVarBeg->text(), QString("C0"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
