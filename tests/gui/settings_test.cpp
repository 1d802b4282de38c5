// The settings file on its own: number reading, lookups that ignore case,
// writing back without disturbing foreign lines, and where the file lies.
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "Main.h"
#include "Settings.h"
#include "TextFile.h"

using namespace mirtolan;

namespace {
std::vector<std::string> Lines(const QString& joined) {
    return SplitLines(joined.toLatin1().toStdString());
}
} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void integers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "80" << true << 80;
        QTest::newRow("negative") << "-12" << true << -12;
        QTest::newRow("plus") << "+7" << true << 7;
        QTest::newRow("blanks around") << " 42 " << true << 42;
        QTest::newRow("dollar hex") << "$1F" << true << 31;
        QTest::newRow("0x hex") << "0x1f" << true << 31;
        QTest::newRow("0X hex") << "0X10" << true << 16;
        QTest::newRow("0x0") << "0x0" << true << 0;
        QTest::newRow("hex pattern is 32 bits") << "$FFFFFFFF" << true << -1;
        QTest::newRow("leading zeros do not count") << "0000000000000000123" << true << 123;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("hex too long") << "$100000000" << false << 0;
        QTest::newRow("huge") << "99999999999999999999999999" << false << 0;
        QTest::newRow("word") << "abc" << false << 0;
        QTest::newRow("yes") << "yes" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("lone dollar") << "$" << false << 0;
        QTest::newRow("lone 0x") << "0x" << false << 0;
        QTest::newRow("trailing junk") << "12a" << false << 0;
        QTest::newRow("inner blank") << "1 2" << false << 0;
    }
    void integers() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto got = ParseIniInteger(text.toStdString());
        QCOMPARE(got.has_value(), valid);
        if (valid) QCOMPARE(*got, value);
    }

    void reading_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("header");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<int>("top");
        QTest::newRow("missing keys give defaults") << "" << true << "c:" << 80;
        QTest::newRow("flag 2 is on") << "[Compile]\nHeader=2" << true << "c:" << 80;
        QTest::newRow("flag 0x0 is off") << "[Compile]\nHeader=0x0" << false << "c:" << 80;
        QTest::newRow("flag yes gives default") << "[Compile]\nHeader=yes" << true << "c:" << 80;
        QTest::newRow("flag empty gives default") << "[Compile]\nHeader=" << true << "c:" << 80;
        QTest::newRow("top abc gives default") << "[FormPosi]\nTop=abc" << true << "c:" << 80;
        QTest::newRow("top in hex") << "[FormPosi]\nTop=$64" << true << "c:" << 100;
        QTest::newRow("empty text stays empty") << "[Compile]\ndir=" << true << "" << 80;
        QTest::newRow("names ignore case") << "[compile]\nHEADER=0\nDir=/src\n[formposi]\ntop=5" << false << "/src" << 5;
        QTest::newRow("blanks around names") << " [ Compile ] \n  Header =0" << false << "c:" << 80;
        QTest::newRow("key of another section") << "[Other]\nHeader=0\ndir=x" << true << "c:" << 80;
        QTest::newRow("first key wins") << "[Compile]\nHeader=0\nHeader=1" << false << "c:" << 80;
        QTest::newRow("first section wins") << "[Compile]\nHeader=0\n[Compile]\nHeader=1" << false << "c:" << 80;
        QTest::newRow("comment is not a key") << "[Compile]\n;Header=0" << true << "c:" << 80;
        QTest::newRow("value keeps its blanks") << "[Compile]\ndir= /a b " << true << " /a b " << 80;
    }
    void reading() {
        QFETCH(QString, file);
        QFETCH(bool, header);
        QFETCH(QString, dir);
        QFETCH(int, top);
        IniFile ini;
        ini.SetLines(Lines(file));
        QCOMPARE(ini.ReadBool("Compile", "Header", true), header);
        QCOMPARE(QString::fromStdString(ini.ReadString("Compile", "dir", "c:")), dir);
        QCOMPARE(ini.ReadInteger("FormPosi", "Top", 80), top);
    }

    void writingKeepsForeignLines() {
        IniFile ini;
        ini.SetLines(Lines("; written by hand\n[Compile]\nheader=0\nOther=keep me\n\n[Tools]\nEditor=vi\n"));
        ini.WriteBool("Compile", "Header", true);
        ini.WriteString("Compile", "VarBeg", "1A0");
        ini.WriteInteger("FormPosi", "Top", -3);
        ini.WriteString("Recent", "File1", "/a.4th");
        ini.WriteString("Recent", "File2", "/b.4th");
        ini.EraseKeys("Recent");
        ini.WriteString("Recent", "File1", "/c.4th");
        const std::vector<std::string> expected = {
            "; written by hand", "[Compile]", "Header=1", "Other=keep me", "VarBeg=1A0", "",
            "[Tools]", "Editor=vi", "[FormPosi]", "Top=-3", "[Recent]", "File1=/c.4th"};
        QCOMPARE(ini.Lines(), expected);
    }

    void saveCreatesDirectoryAndWritesCrLf() {
        QTemporaryDir tmp;
        const std::string path = (tmp.path() + "/deep/er/mirtolan.INI").toStdString();
        IniFile ini;
        ini.WriteString("Compile", "dir", "x");
        ini.Save(path);
        QCOMPARE(QString::fromStdString(ReadFileBytes(path)), QString("[Compile]\r\ndir=x\r\n"));
        IniFile back;
        back.Load(path);
        QCOMPARE(back.ReadString("Compile", "dir", ""), std::string("x"));
        IniFile none;
        none.Load((tmp.path() + "/absent.INI").toStdString());
        QVERIFY(none.Lines().empty());
    }

    void directoryPart_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("dir");
        QTest::newRow("file in a folder") << "/home/ann/proj/blink.4th" << "/home/ann/proj";
        QTest::newRow("file at the root") << "/blink.4th" << "/";
        QTest::newRow("no folder") << "blink.4th" << "";
        QTest::newRow("dot in a folder") << "/p.old/blink" << "/p.old";
    }
    void directoryPart() {
        QFETCH(QString, path);
        QFETCH(QString, dir);
        QCOMPARE(QString::fromStdString(DirectoryPart(path.toStdString())), dir);
    }

    void settingsPlace() {
        QTemporaryDir tmp;
        const std::string root = tmp.path().toStdString();
        const std::string bin = root + "/bin";
        std::filesystem::create_directories(bin);
        // A directory we can write: the file goes beside the executable.
        QCOMPARE(SettingsFilePath({bin, "mirtolan", root + "/xdg", root + "/home"}), bin + "/mirtolan.INI");
        QCOMPARE(SettingsFileName("mirtolan.exe"), std::string("mirtolan.INI"));
        // One we cannot write: the user's configuration directory.
        const std::string locked = root + "/no-such-dir";
        QCOMPARE(SettingsFilePath({locked, "mirtolan", root + "/xdg", root + "/home"}),
                 root + "/xdg/mirtolan/mirtolan.INI");
        QCOMPARE(SettingsFilePath({locked, "mirtolan", "", root + "/home"}),
                 root + "/home/.config/mirtolan/mirtolan.INI");
        QCOMPARE(SettingsFilePath({locked, "mirtolan", "relative/xdg", root + "/home"}),
                 root + "/home/.config/mirtolan/mirtolan.INI");
        if (::geteuid() != 0) {
            // Beside a read-only executable that already holds the file, that file is used.
            const std::string ro = root + "/ro";
            std::filesystem::create_directories(ro);
            std::ofstream(ro + "/mirtolan.INI") << "[Compile]\r\n";
            std::filesystem::permissions(ro, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
            QCOMPARE(SettingsFilePath({ro, "mirtolan", root + "/xdg", ""}), ro + "/mirtolan.INI");
            std::filesystem::permissions(ro, std::filesystem::perms::owner_all);
        }
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "settings_test.moc"
