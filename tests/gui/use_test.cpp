// The window under real use: the clipboard acts on the pane that has the
// keys; F4 follows a message's line as edits move it; Replace's Words are
// Forth words; completion reads an index kept as the text changes; colours
// stay legible in any theme; the window fits its screen and shows its whole
// tool bar; Tab can leave the editor; long messages wrap and show whole on
// hover; another file clears the listing; the shipped examples open as copies.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCompleter>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTextLayout>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include "Colours.h"
#include "FindReplaceBar.h"
#include "FormFixture.h"
#include "MessagePane.h"
#include "WordIndex.h"
#ifdef MIRTOLAN_RUN
#include "RunWindow.h"
#endif
#ifdef MIRTOLAN_HAVE_UPLOAD
#include "UploadTool.h"
#endif

class UseTest : public FormFixture {
    Q_OBJECT

    std::unique_ptr<TForm1> shownForm() {
        auto form = makeForm();
        form->show();
        if (!QTest::qWaitForWindowActive(form.get())) return nullptr;
        return form;
    }

private slots:
    void clipboardAndSelectAllActOnTheFocusedPane() {
        auto form = shownForm();
        QVERIFY(form);
        openViaDialog(*form, sourceFile("clip.4th", ": one 1 ;\r\nbogus\r\n"));
        form->CompileClick();
        QTextCursor c = form->Source->textCursor();
        c.setPosition(2);
        c.setPosition(5, QTextCursor::KeepAnchor);
        form->Source->setTextCursor(c);
        const QString source = form->Source->toPlainText();
        const QString messages = form->ErrorMemo->toPlainText();

        form->ErrorMemo->setFocus();
        QTest::keyClick(form->ErrorMemo, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(form->ErrorMemo->textCursor().selectedText().replace(QChar::ParagraphSeparator, '\n'), messages);
        QCOMPARE(form->Source->textCursor().selectedText(), QString("one")); // the editor behind is untouched
        form->Copy1->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), messages);
        form->Cut1->trigger();
        form->Paste1->trigger();
        QCOMPARE(form->Source->toPlainText(), source);
        QCOMPARE(form->ErrorMemo->toPlainText(), messages);

        form->AsmTxt->setFocus();
        form->SelectAll1->trigger();
        QCOMPARE(form->AsmTxt->selectionFirst(), std::size_t(0));
        QCOMPARE(form->AsmTxt->selectionLast(), form->AsmTxt->lineCount() - 1);
        form->Copy1->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), form->AsmTxt->selectedText());
        QCOMPARE(form->Source->textCursor().selectedText(), QString("one"));

        // In the editor they are the editor's, as ever.
        form->Source->setFocus();
        form->SelectAll1->trigger();
        QCOMPARE(form->Source->textCursor().selectedText().replace(QChar::ParagraphSeparator, '\n'), source);
    }

    // F4, Enter and a double-click go where the message's line is now, as the gutter mark does.
    void f4FollowsTheLineAsEditsMoveIt() {
        auto form = shownForm();
        QVERIFY(form);
        openViaDialog(*form, sourceFile("moved.4th", ": one 1 ;\r\nbogus\r\n: two 2 ;\r\nfrob\r\n"));
        form->CompileClick();
        QTextCursor top(form->Source->document());
        top.insertText("\\\\ new first line\n\\\\ and a second\n");
        auto line = [&] { return form->Source->textCursor().blockNumber() + 1; };
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(line(), 4);
        QTest::keyClick(form.get(), Qt::Key_F4);
        QCOMPARE(line(), 6);
        // A message added later leaves the marks of the others where they moved to.
        form->AppendDiagnostic(QStringLiteral("moved.4th:1: note: added after the edit"));
        QCOMPARE(form->Source->markedLines(), (std::vector<int>{1, 4, 6}));
        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ShiftModifier);
        QCOMPARE(line(), 4);
        // A new compile marks where its messages point now.
        form->CompileClick();
        QCOMPARE(form->Source->markedLines(), (std::vector<int>{4, 6}));
        d_->answers << QMessageBox::No;
    }

    void replaceWithWordsTakesForthWords() {
        struct Case {
            const char* text;     // the source
            const char* find;     // what to find, replaced by X
            bool matchCase;       // Case ticked
            bool words;           // Words ticked
            const char* replaced; // the source after All
        };
        const Case cases[] = {
            {": t ?DUP DUP 2DUP ;", "DUP", false, true, ": t ?DUP X 2DUP ;"}, // ?DUP is a word of its own
            {": t ?DUP DUP ;", "?DUP", false, true, ": t X DUP ;"},         // a word of signs
            {": t dup DUP ;", "DUP", false, true, ": t X X ;"},
            {": t dup DUP ;", "DUP", true, true, ": t dup X ;"},
            {"DUP\nDUP+ C@\tDUP", "DUP", false, true, "X\nDUP+ C@\tX"}, // at the ends of lines, after a tab
            {": t ?DUP DUP ;", "DUP", false, false, ": t ?X X ;"},          // without Words: anywhere
        };
        auto form = makeForm();
        for (const Case& c : cases) {
            const QString replaced = QString::fromLatin1(c.replaced);
            form->Source->setPlainText(QString::fromLatin1(c.text));
            form->FindText->setText(QString::fromLatin1(c.find));
            form->ReplaceText->setText("X");
            form->MatchCase->setChecked(c.matchCase);
            form->WholeWords->setChecked(c.words);
            form->ReplaceAll();
            QVERIFY2(form->Source->toPlainText() == replaced, c.text);
            // Find stops at the same first match (where the first X stands: the text before it is the same).
            form->Source->setPlainText(QString::fromLatin1(c.text));
            form->Source->moveCursor(QTextCursor::Start);
            QVERIFY(form->FindBar->findNext());
            QVERIFY2(form->Source->textCursor().selectionStart() == replaced.indexOf('X'), c.text);
        }
    }

    // Completion reads an index that follows the edits; a large text is read in slices.
    void completionIndexFollowsTheText() {
        SourceEditor editor;
        QString text;
        for (int i = 0; i < 30000; ++i) text += QStringLiteral(": w%1 1 ;\n").arg(i);
        editor.setPlainText(text);
        QVERIFY(!editor.wordIndex()->complete()); // the window goes on meanwhile
        QTRY_VERIFY(editor.wordIndex()->complete());
        QVERIFY(editor.wordIndex()->words().contains("w29999"));
        QTextCursor end(editor.document());
        end.movePosition(QTextCursor::End);
        end.insertText(": fresh 2 ;");
        QVERIFY(editor.wordIndex()->words().contains("fresh")); // at once
        QTextCursor line(editor.document()->findBlockByNumber(5));
        line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        line.insertText("VARIABLE renamed");
        QVERIFY(!editor.wordIndex()->words().contains("w5"));
        QVERIFY(editor.wordIndex()->words().contains("renamed"));
        end.select(QTextCursor::BlockUnderCursor);
        end.removeSelectedText();
        QVERIFY(!editor.wordIndex()->words().contains("fresh"));
        // Ctrl+Space offers them.
        editor.setTextCursor(end);
        editor.insertPlainText(QStringLiteral("\n: x renam"));
        editor.complete();
        QCOMPARE(editor.completer()->currentCompletion(), QString("renamed"));
        editor.setPlainText(": only ;");
        QCOMPARE(editor.wordIndex()->words(), QStringList{"only"});
    }

    // Every colour stands out from what it is drawn on, in a light theme and a dark one alike.
    void coloursAreLegibleInEveryTheme_data() {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("highlight");
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black) << QColor(0x30, 0x8c, 0xc6);
        QTest::newRow("dark") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xdc, 0xdc, 0xdc) << QColor(0x26, 0x4f, 0x78);
        QTest::newRow("black") << QColor(Qt::black) << QColor(Qt::white) << QColor(0x1d, 0x99, 0xf3);
        QTest::newRow("grey") << QColor(0x44, 0x44, 0x44) << QColor(0xf0, 0xf0, 0xf0) << QColor(0x88, 0x88, 0x88);
        QTest::newRow("warm paper") << QColor(0xf5, 0xf0, 0xe1) << QColor(0x20, 0x20, 0x20) << QColor(0xe0, 0xc0, 0x60);
    }
    void coloursAreLegibleInEveryTheme() {
        QFETCH(QColor, base);
        QFETCH(QColor, text);
        QFETCH(QColor, highlight);
        QPalette palette;
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Highlight, highlight);
        const EditorColours k = ColoursFor(palette);
        auto atLeast = [](const QColor& a, const QColor& b, double ratio) {
            const double r = ContrastRatio(a, b);
            if (r + 1e-9 >= ratio) return true;
            qWarning("%s on %s: %.2f", qPrintable(a.name()), qPrintable(b.name()), r);
            return false;
        };
        for (const QColor& word : {k.keyword, k.comment, k.number, k.passThrough})
            QVERIFY(atLeast(word, base, TextContrast) && atLeast(word, k.currentLine, TextContrast));
        QVERIFY(atLeast(k.keyword, k.match, TextContrast));
        QVERIFY(atLeast(text, k.currentLine, TextContrast)); // the current line stays readable
        QVERIFY(atLeast(text, k.match, TextContrast));
        QVERIFY(atLeast(k.gutterText, k.gutter, TextContrast));
        QVERIFY(atLeast(k.fault, base, TextContrast));
        for (const QColor& mark : {k.mark, k.trace, k.cursor}) QVERIFY(atLeast(mark, base, MarkContrast));
        QVERIFY(atLeast(k.mark, k.gutter, MarkContrast));

        // The editor takes them from its palette, and again when the palette changes.
        SourceEditor editor;
        editor.setHighlighter(new ForthHighlighter(editor.document()));
        editor.setPlainText(": w IF ;");
        editor.setPalette(palette);
        QCOMPARE(editor.extraSelections().value(0).format.background().color(), k.currentLine);
        bool keyword = false;
        for (const QTextLayout::FormatRange& r : editor.document()->firstBlock().layout()->formats())
            keyword = keyword || r.format.foreground().color() == k.keyword;
        QVERIFY(keyword);
    }

    // A kept size larger than the screen is cut to it; a first start is wide
    // enough for the whole tool bar, the tools' buttons with it.
    void theWindowFitsItsScreenAndShowsItsToolBar() {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        WriteAll(ini(), "[FormPosi]\r\nTop=10\r\nLeft=10\r\nWidth=5000\r\nHeight=4000\r\n");
        {
            auto form = makeForm();
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            QVERIFY2(screen.contains(form->frameGeometry()),
                     qPrintable(QStringLiteral("%1x%2").arg(form->width()).arg(form->height())));
        }
        QFile::remove(ini());
        auto form = makeForm();
#ifdef MIRTOLAN_RUN
        InstallRun(*form);
#endif
#ifdef MIRTOLAN_HAVE_UPLOAD
        new UploadTool(*form);
#endif
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(screen.contains(form->frameGeometry()));
        const auto* more = form->Panel1->findChild<QToolButton*>("qt_toolbar_ext_button");
        QVERIFY2(!more || !more->isVisible(), "the tool bar hides buttons behind its extension arrow");
    }

    void tabLeavesTheEditorWhenAsked() {
        {
            auto form = shownForm();
            QVERIFY(form);
            form->Source->setFocus();
            QTest::keyClick(form->Source, Qt::Key_Tab); // by default Tab indents
            QCOMPARE(form->Source->toPlainText(), QString("\t"));
            QVERIFY(form->Source->hasFocus());
            QTest::keyClick(form->Source, Qt::Key_Tab, Qt::ControlModifier); // Ctrl+Tab always leaves
            QVERIFY(!form->Source->hasFocus());
            QCOMPARE(form->Source->toPlainText(), QString("\t"));
            form->Source->setFocus();
            form->TabFocus1->trigger(); // or Tab itself, when the user asks
            QTest::keyClick(form->Source, Qt::Key_Tab);
            QVERIFY(!form->Source->hasFocus());
            QCOMPARE(form->Source->toPlainText(), QString("\t"));
            d_->answers << QMessageBox::No;
            QVERIFY(form->close());
        }
        QVERIFY(ReadAll(ini()).contains("TabFocus=1\r\n"));
        auto again = makeForm();
        QVERIFY(again->TabFocus1->isChecked() && again->Source->tabChangesFocus());
    }

    void longMessagesWrapAndShowWholeOnHover() {
        auto form = shownForm();
        QVERIFY(form);
        form->resize(700, 500);
        form->Columns->setSizes({500, 200});
        const QString message = QStringLiteral("far.4th:1: error: IF cannot reach its THEN at line 4 in 'far': the code "
                                               "between them is 7 words too long for a conditional branch; move part "
                                               "of the body into a word of its own");
        form->AppendDiagnostic(message);
        const QTextBlock first = form->ErrorMemo->document()->firstBlock();
        QTRY_VERIFY(first.layout()->lineCount() > 1);
        const QRect at = form->ErrorMemo->cursorRect(QTextCursor(first));
        const QPoint pos = form->ErrorMemo->viewport()->mapTo(form->ErrorMemo, at.center());
        QHelpEvent hover(QEvent::ToolTip, pos, form->ErrorMemo->mapToGlobal(pos));
        QCoreApplication::sendEvent(form->ErrorMemo, &hover);
        QCOMPARE(QToolTip::text(), message);
        QToolTip::hideText();
    }

    void openingAnotherFileClearsTheListing() {
        auto form = makeForm();
        openViaDialog(*form, sourceFile("first.4th", ": one 1 ;\r\n"));
        form->CompileClick();
        QVERIFY(form->AsmTxt->lineCount() > 0);
        openViaDialog(*form, sourceFile("second.4th", ": two 2 ;\r\n"));
        QCOMPARE(form->AsmTxt->lineCount(), std::size_t(0));
    }

    // File > Examples opens a copy of a shipped example: it compiles at once,
    // and saving asks where, never writing the shipped file.
    void examplesOpenAsCopies() {
        const QString exe = root_.path() + "/installed/bin";
        QVERIFY(QDir().mkpath(exe));
        QFile::link(QStringLiteral(MIRTOLAN_SHARE_PARENT), root_.path() + "/installed/share");
        QTemporaryDir elsewhere; // no archive here: the shipped one, which the examples need
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        auto form = makeForm(exe);
        QVERIFY(QDir::setCurrent(work_));
        const QStringList examples = form->Examples();
        const QString blink = QDir::cleanPath(exe + "/../share/mirtolan/examples/blink328p.4th");
        QVERIFY2(examples.contains(blink), qPrintable(examples.join('\n')));
        QCOMPARE(form->Examples1->actions().size(), examples.size());
        const QByteArray shipped = ReadAll(blink);
        form->Examples1->actions().at(int(examples.indexOf(blink)))->trigger();
        QCOMPARE(form->Source->toPlainText() + '\n', QString::fromUtf8(shipped).replace("\r\n", "\n"));
        QVERIFY(form->State().SourceFileName.empty());
        QVERIFY(form->windowTitle().startsWith("blink328p.4th"));
        form->CompileClick();
        QVERIFY(PaneLines(form->AsmTxt).contains("main:"));
        QVERIFY(d_->questions.isEmpty());
        QVERIFY(!QFileInfo::exists(QFileInfo(blink).path() + "/blink328p.asm"));
        d_->savePath.clear(); // the dialog cancelled
        QVERIFY(!form->Save());
        QVERIFY(d_->saveSuggested.endsWith("blink328p.4th") && d_->saveSuggested != blink);
        QCOMPARE(ReadAll(blink), shipped);
    }
};

QTEST_MAIN(UseTest)
#include "use_test.moc"
