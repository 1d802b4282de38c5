// The window's settings reader fed arbitrary bytes: every read the window
// makes, then a write of each option and a read that must give it back.
#include "Settings.h"
#include "fuzz_support.h"

using namespace mirtolan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)ParseIniInteger(bytes);

    IniFile ini;
    ini.SetLines(fuzz::Lines(data, size));
    (void)ini.ReadBool("Compile", "Header", true);
    (void)ini.ReadBool("Compile", "Zcall", false);
    (void)ini.ReadString("Compile", "Dir", "");
    (void)ini.ReadString("Compile", "VarBeg", "81");
    (void)ini.ReadInteger("FormPosi", "Top", 100);
    (void)ini.ReadInteger("FormPosi", "Left", 100);
    for (int i = 1; i <= 9; ++i)
        (void)ini.ReadString("Recent", "File" + std::to_string(i), "");

    // A value without line ends, as the window writes them, reads back as written.
    std::string value(bytes.substr(0, 64));
    std::erase_if(value, [](char ch) { return ch == '\r' || ch == '\n'; });
    ini.WriteString("Compile", "VarBeg", value);
    ini.WriteInteger("FormPosi", "Top", -12345);
    ini.WriteBool("Compile", "Zcall", true);
    fuzz::Expect(ini.ReadString("Compile", "VarBeg", "?") == value, "a written text reads back");
    fuzz::Expect(ini.ReadInteger("FormPosi", "Top", 0) == -12345, "a written integer reads back");
    fuzz::Expect(ini.ReadBool("Compile", "Zcall", false), "a written flag reads back");

    // Writing the file and reading it again keeps what was written.
    IniFile again;
    again.SetLines(SplitLines(JoinLines(ini.Lines())));
    fuzz::Expect(again.ReadString("Compile", "VarBeg", "?") == value, "the text survives the file");
    ini.EraseKeys("Recent");
    return 0;
}
