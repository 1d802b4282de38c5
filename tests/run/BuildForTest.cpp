#include "BuildForTest.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Scratch.h"
#include "TextFile.h"

namespace runtest {

namespace fs = std::filesystem;
using namespace mirtolan;

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

} // namespace

BuildResult BuildForTest(const std::string& name, const std::string& source, const Device& device, bool optimise)
{
    BuildResult r;
    r.device = &device;
    r.varStart = std::string(device.varStart);
    auto folder = std::make_shared<PrivateFolder>("mirtolan-test-");
    if (folder->path().empty()) {
        r.error = folder->error();
        return r;
    }
    r.folder = folder; // the files live as long as the result
    const fs::path dir = folder->path();
    const fs::path src = dir / (name + ".4th");
    std::ofstream(src) << source;
    r.asmFile = (dir / (name + ".asm")).string();
    r.hexFile = (dir / (name + ".hex")).string();
    const std::string map = (dir / (name + ".map")).string();
    const std::string header = std::string(MIRTOLAN_SHARE_DIR) + "/" + std::string(device.headerFolder);
    const std::string compile = std::string(MIRTOLANC_PATH) + (optimise ? " --opt" : "") + " --varbeg " + r.varStart +
                                " " + quote(src.string()) + " 2>/dev/null";
    const std::string assemble = "avra -I " + quote(header) + " -m " + quote(map) + " " + quote(r.asmFile) +
                                 " >" + quote((dir / (name + ".avra")).string()) + " 2>&1";
    if (std::system(compile.c_str()) > 256 || std::system(assemble.c_str()) != 0) {
        std::ifstream log(dir / (name + ".avra"));
        std::ostringstream said;
        said << log.rdbuf();
        r.error = "build of " + name + " failed: " + said.str();
        return r;
    }
    r.hexImage = ReadFileBytes(r.hexFile);

    std::ifstream mapIn(map);
    std::string line;
    while (std::getline(mapIn, line)) {
        std::istringstream fields(line);
        std::string sym, kind, hex;
        if (fields >> sym >> kind >> hex)
            r.symbols[upper(sym)] = std::uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
    }
    // Every label of the listing that starts a routine is a word; the tests
    // name words as their labels.
    std::ifstream asmIn(r.asmFile);
    while (std::getline(asmIn, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '_' && line[0] != ';' && line[0] != '.' && line.back() == ':') {
            const std::string label = line.substr(0, line.size() - 1);
            r.words.push_back(ProgramWord{label, label, 0, false});
        }
    }
    // Variables as the compiler places them: upward from the variable start,
    // each ALLOT adding to the last.
    std::uint32_t next = std::uint32_t(std::strtoul(r.varStart.c_str(), nullptr, 16));
    std::istringstream words(source);
    std::string w;
    while (words >> w) {
        if (upper(w) == "VARIABLE" && words >> w) {
            r.variables.push_back(ProgramVariable{w, next, 1, 0});
            ++next;
        } else if (upper(w) == "ALLOT" && words >> w && !r.variables.empty()) {
            const auto n = std::uint32_t(std::strtoul(w.c_str(), nullptr, 0));
            r.variables.back().size += n;
            next += n;
        }
    }
    r.status = BuildResult::Built;
    return r;
}

std::vector<std::string> DevicesWithRuntime()
{
    std::vector<std::string> names;
    for (const Device& d : Devices())
        if (fs::exists(fs::path(MIRTOLAN_SHARE_DIR) / std::string(d.headerFolder) / "4thHead.asm"))
            names.emplace_back(d.name);
    return names;
}

std::vector<Setting> Settings()
{
    std::vector<Setting> out;
    for (const std::string& d : DevicesWithRuntime())
        for (bool optimise : {false, true})
            out.push_back({d, optimise});
    return out;
}

std::string SettingName(const Setting& s) { return s.device + (s.optimise ? "_opt" : ""); }

bool DeviceHas(const Device& device, const std::string& symbol)
{
    std::string error;
    const std::vector<std::string> dirs{std::string(AvraIncludeDir)};
    const auto symbols = ReadDeviceSymbols(device, dirs, error);
    return symbols && symbols->find(symbol);
}

} // namespace runtest
