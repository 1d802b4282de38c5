// The window's text logic without a window: encodings, message references,
// control-word matching, line comments and the words offered for completion.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include "FileEncoding.h"
#include "ForthWords.h"
#include "HelpText.h"
#include "ListingView.h"
#include "MessagePane.h"
#include "SourceEditor.h"

using namespace mirtolan;

namespace {
std::vector<QString> Lines(const QString& text) {
    std::vector<QString> out;
    for (const QString& l : text.split('\n')) out.push_back(l);
    return out;
}

// The words of `lines` that MatchingControlWords marks, as "line:column" text.
QStringList Marked(const QString& text, int line, int column) {
    const std::vector<QString> lines = Lines(text);
    QStringList out;
    for (const WordSpan& w : MatchingControlWords(lines, line, column))
        out << QStringLiteral("%1:%2").arg(w.line).arg(lines[std::size_t(w.line)].mid(w.column, w.length));
    return out;
}
} // namespace

class EditorTextTest : public QObject {
    Q_OBJECT
private slots:
    void utf8Validity_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("plain") << true;
        QTest::newRow("umlaut and euro") << QByteArray("Z\xc3\xa4hler \xe2\x82\xac") << true;
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x98\x80") << true;
        QTest::newRow("latin-1 a-umlaut") << QByteArray("Z\xe4hler") << false;
        QTest::newRow("cut short at the end") << QByteArray("\xe2\x82") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("stray continuation") << QByteArray("a\x80") << false;
    }
    void utf8Validity() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(std::string_view(bytes.constData(), std::size_t(bytes.size()))), valid);
    }

    void encodingOfAFile() {
        QCOMPARE(DetectEncoding({"abc", ""}), TextEncoding::Ascii);
        QCOMPARE(DetectEncoding({"abc", "Z\xc3\xa4hler"}), TextEncoding::Utf8);
        // One line that is not UTF-8 makes the whole file 8-bit.
        QCOMPARE(DetectEncoding({"Z\xc3\xa4hler", "\xe4"}), TextEncoding::Latin1);
    }

    void everyByteRoundTrips() {
        for (TextEncoding e : {TextEncoding::Latin1, TextEncoding::Utf8}) {
            std::string bytes;
            if (e == TextEncoding::Latin1)
                for (int b = 0; b < 256; ++b) bytes.push_back(char(b));
            else
                bytes = "\\\\ Z\xc3\xa4hler \xe2\x82\xac \xf0\x9f\x98\x80";
            std::string back;
            QVERIFY(EncodeLine(DecodeLine(bytes, e), e, back));
            QCOMPARE(back, bytes);
        }
    }

    void charactersAFileCannotHold() {
        std::string out;
        QVERIFY(!EncodeLine(QString::fromUtf8("\xe2\x82\xac"), TextEncoding::Latin1, out));
        QVERIFY(EncodeLine(QString::fromUtf8("\xc3\xa4"), TextEncoding::Latin1, out));
        QCOMPARE(out, std::string("\xe4"));
        QVERIFY(!EncodeLine(QString(QChar(0xD800)), TextEncoding::Utf8, out)); // never U+FFFD in its place
        QChar bad;
        QVERIFY(!CanEncode({"ok", QString::fromUtf8("x \xe2\x86\x92")}, TextEncoding::Latin1, &bad));
        QCOMPARE(bad.unicode(), char16_t(0x2192));
        // An ASCII file grows into UTF-8 when something else is typed; the others keep theirs.
        QCOMPARE(SavingEncoding(TextEncoding::Ascii, {"abc"}), TextEncoding::Ascii);
        QCOMPARE(SavingEncoding(TextEncoding::Ascii, {QString::fromUtf8("\xe2\x82\xac")}), TextEncoding::Utf8);
        QCOMPARE(SavingEncoding(TextEncoding::Latin1, {QString::fromUtf8("\xe2\x82\xac")}), TextEncoding::Latin1);
    }

    void messageReferences_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::newRow("compiler form") << "Not defined bogus ,Line 3" << true << "" << 3;
        QTest::newRow("conditional") << "Conditional not matched. Line 12" << true << "" << 12;
        QTest::newRow("word named Line") << "Not defined Line7 ,Line 9" << true << "" << 9;
        QTest::newRow("gcc form") << "blink.4th:14: error: no such port" << true << "blink.4th" << 14;
        QTest::newRow("gcc form with column") << "/src/a.4th:2:5: warning: x" << true << "/src/a.4th" << 2;
        QTest::newRow("colons in the text") << "a.4th:3: error: b:7: c" << true << "a.4th" << 3;
        QTest::newRow("summary") << "Compile Completed" << false << "" << 0;
        QTest::newRow("variable end") << "Variable end: $0080" << false << "" << 0;
        QTest::newRow("too large") << "x ,Line 99999999999999999999" << false << "" << 0;
    }
    void messageReferences() {
        QFETCH(QString, text);
        QFETCH(bool, found);
        QFETCH(QString, file);
        QFETCH(int, line);
        const std::optional<MessageRef> ref = ParseMessageRef(text);
        QCOMPARE(ref.has_value(), found);
        if (!ref) return;
        QCOMPARE(ref->file, file);
        QCOMPARE(ref->line, line);
    }

    void matchingControlWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("marked");
        const QString sign = ": sign DUP 0< IF DROP -1 ELSE 0= IF 0 ELSE 1 THEN THEN ;";
        QTest::newRow("colon with semicolon") << sign << 0 << 0 << QStringList{"0::", "0:;"};
        QTest::newRow("outer IF") << sign << 0 << 14 << QStringList{"0:IF", "0:ELSE", "0:THEN"};
        QTest::newRow("inner ELSE") << sign << 0 << 40 << QStringList{"0:IF", "0:ELSE", "0:THEN"};
        QTest::newRow("not a control word") << sign << 0 << 8 << QStringList{};
        QTest::newRow("BEGIN WHILE REPEAT over lines")
            << ": drain\n  BEGIN DUP WHILE\n  1- REPEAT ;" << 2 << 5 << QStringList{"1:BEGIN", "1:WHILE", "2:REPEAT"};
        QTest::newRow("case") << ": c CASE 1 OF a ENDOF DEFAULT b ENDCASE ;" << 0 << 5
                              << QStringList{"0:CASE", "0:OF", "0:ENDOF", "0:DEFAULT", "0:ENDCASE"};
        QTest::newRow("lower case DO +loop") << ": e 10 0 do i 2 +loop ;" << 0 << 18 << QStringList{"0:do", "0:+loop"};
        QTest::newRow("comments hide words") << ": x ( IF ) IF \\\\ THEN\n THEN ;" << 0 << 11
                                             << QStringList{"0:IF", "1:THEN"};
        QTest::newRow("unmatched THEN") << ": x THEN ;" << 0 << 4 << QStringList{"0:THEN"};
        QTest::newRow("semicolon closes an open IF") << ": x IF ;" << 0 << 7 << QStringList{"0::", "0:;"};
    }
    void matchingControlWords() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QStringList, marked);
        QCOMPARE(Marked(text, line, column), marked);
    }

    void lineComments_data() {
        QTest::addColumn<QStringList>("in");
        QTest::addColumn<QStringList>("out");
        QTest::newRow("comment out") << QStringList{": a", "  1 ;"} << QStringList{"\\\\ : a", "  \\\\ 1 ;"};
        QTest::newRow("uncomment") << QStringList{"\\\\ : a", "  \\\\ 1 ;"} << QStringList{": a", "  1 ;"};
        QTest::newRow("mixed: comment all") << QStringList{"\\\\ a", "b"} << QStringList{"\\\\ \\\\ a", "\\\\ b"};
        QTest::newRow("blank lines stay") << QStringList{"a", "", "b"} << QStringList{"\\\\ a", "", "\\\\ b"};
        QTest::newRow("bare mark") << QStringList{"\\\\"} << QStringList{""};
    }
    void lineComments() {
        QFETCH(QStringList, in);
        QFETCH(QStringList, out);
        const std::vector<QString> got = ToggleLineComments(std::vector<QString>(in.begin(), in.end()));
        QCOMPARE(QStringList(got.begin(), got.end()), out);
    }

    void definedWords() {
        const std::vector<QString> words =
            DefinedWords(Lines(": one 1 ;\nVARIABLE count\nconstant ten 10\n$tick:\n( : hidden ) \\\\ : nope\n: one ;"));
        QCOMPARE(QStringList(words.begin(), words.end()), (QStringList{"tick", "one", "count", "ten"}));
    }

    void archiveWordsAndStackComments() {
        Archive a;
        a.assign({"; header", "$$", "$$ _TestIfZero", "\tld\tFtmp1,Y+", "$$ DO", "\tld\tFtmp1,Y+\t; ( limit start -- ) start",
                  "$$ DROP", "\tadiw\tYL,1\t; ( n -- )", "$$ NOP", "\tnop\t; no effect ( here )",
                  "$ ( x -- flag ) True when x is 0.", "$$ 0=", "\ttst\tFtmp1\t; ( y -- ) not this one", "$"},
                 "test.arch");
        const std::vector<ArchiveWord> words = ArchiveWords(a);
        QCOMPARE(words.size(), std::size_t(4));
        QCOMPARE(words[0].name, std::string("DO"));
        QCOMPARE(words[0].stackEffect, std::string("( limit start -- )"));
        QCOMPARE(words[1].stackEffect, std::string("( n -- )"));
        QCOMPARE(words[2].stackEffect, std::string()); // a parenthesis without "--" is no stack comment
        // The doc line before a header says it best.
        QCOMPARE(words[3].name, std::string("0="));
        QCOMPARE(words[3].stackEffect, std::string("( x -- flag ) True when x is 0."));
    }

    void listingViewLinesAndSelection() {
        ListingView view;
        view.resize(300, 100);
        const LineList lines{"\tld\tFtmp1,Y", "; Z\xc3\xa4hler", "; Z\xe4hler", "last"};
        view.setLines(&lines);
        QCOMPARE(view.lineCount(), std::size_t(4));
        // Each line shown as UTF-8 where it is, byte for byte where not.
        QCOMPARE(view.lineText(1), QString::fromUtf8("; Z\xc3\xa4hler"));
        QCOMPARE(view.lineText(2), QString::fromUtf8("; Z\xc3\xa4hler"));
        QVERIFY(view.selectedText().isEmpty()); // nothing selected: nothing to copy
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 2));
        QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(view.selectedText(), QString("\tld\tFtmp1,Y\n") + QString::fromUtf8("; Z\xc3\xa4hler\n"));
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), view.selectedText());
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(view.selectionFirst(), std::size_t(0));
        QCOMPARE(view.selectionLast(), std::size_t(3));
        QTest::keyClick(&view, Qt::Key_Down); // past the end stays on the last line
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.selectionFirst(), std::size_t(3));
        view.clear(); // lets go of the list, which a compile is about to rebuild
        QCOMPARE(view.lineCount(), std::size_t(0));
        QCOMPARE(view.lineText(0), QString());
    }

    void messagePaneLeadsOnlyIntoItsFile() {
        MessagePane pane;
        QSignalSpy chosen(&pane, &MessagePane::lineActivated);
        pane.setCompilerMessages({"Not defined a ,Line 2", "Not defined b ,Line 7", "Compile Completed"}, "/p/a.4th");
        pane.setCurrentFile("/p/b.4th");
        QVERIFY(pane.currentFileMessages().empty());
        QVERIFY(!pane.step(false));
        QCOMPARE(chosen.size(), 0);
        pane.appendDiagnostic("b.4th:5: error: relative to b's folder");
        QCOMPARE(pane.currentFileMessages().size(), std::size_t(1));
        pane.setCurrentFile("/p/a.4th");
        QCOMPARE(pane.currentFileMessages().size(), std::size_t(2));
        QVERIFY(pane.step(true)); // Shift+F4 first: the last message about a.4th
        QVERIFY(pane.step(false)); // and on round the end to the first
        QCOMPARE(chosen.size(), 2);
        QCOMPARE(chosen[0].value(0).toInt(), 7);
        QCOMPARE(chosen[1].value(0).toInt(), 2);
    }

    void commentTogglesTheSelectedLinesOnly() {
        SourceEditor editor;
        editor.setPlainText("a\nb\nc");
        QTextCursor c(editor.document());
        c.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor); // a whole line, ending at b's start
        editor.setTextCursor(c);
        editor.toggleComment();
        QCOMPARE(editor.toPlainText(), QString("\\\\ a\nb\nc"));
        editor.toggleComment(); // the selection still covers what was commented
        QCOMPARE(editor.toPlainText(), QString("a\nb\nc"));
        editor.undo();
        QCOMPARE(editor.toPlainText(), QString("\\\\ a\nb\nc"));
    }

    void pasteOfNothingToTextIsIgnored() {
        // Qt 6.4 crashes on a paste with no text in the clipboard (an empty
        // X clipboard, an image): the editor lets it pass.
        SourceEditor editor;
        editor.setPlainText("a");
        auto* image = new QMimeData;
        image->setData("image/png", QByteArray("\x89PNG"));
        for (QMimeData* m : {new QMimeData, image}) {
            QGuiApplication::clipboard()->setMimeData(m);
            editor.paste();
            QCOMPARE(editor.toPlainText(), QString("a"));
        }
        QGuiApplication::clipboard()->setText("b");
        editor.paste();
        QCOMPARE(editor.toPlainText(), QString("ba")); // at the cursor, before the text
    }

    void languageReferenceFromTheReadme() {
        const QString reference = LanguageReference(BuiltInReadme());
        QVERIFY(reference.startsWith("## The language"));
        QVERIFY(reference.contains("### Control structures"));
        QVERIFY(reference.contains("\n### Words\n"));
        QVERIFY(reference.contains("\n### Interrupts\n"));
        QVERIFY(!reference.contains("## Command-line reference"));
        QVERIFY(!reference.contains("## The run-time model")); // only the subsections about words
    }

    void languageReferenceParts() {
        const QString readme = "# Title\n## The language\nA\n### Numbers\nB\n## Other\nC\n### Words\nD\n"
                               "### Registers of the build\nE\n## Next\n### Interrupts\nF\n";
        QCOMPARE(LanguageReference(readme),
                 QString("## The language\nA\n### Numbers\nB\n### Words\nD\n### Interrupts\nF\n"));
    }
};

QTEST_MAIN(EditorTextTest)
#include "editor_text_test.moc"
