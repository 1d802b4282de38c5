// Builds a Forth source into a runnable program for the run tests: compiled
// with mirtolanc, assembled with avra, the map read back into a BuildResult.
#pragma once

#include <string>
#include <vector>

#include "Build.h"

namespace runtest {

// Builds `source` for `device` as `name` (with `optimise`, by mirtolanc
// --opt) in a private scratch folder that lives as long as the result; on
// failure the result is Abandoned and `error` says why.
mirtolan::BuildResult BuildForTest(const std::string& name, const std::string& source,
                                   const mirtolan::Device& device, bool optimise = false);

// A device, and whether programs are built with the optimiser: the run
// tests run in every such setting.
struct Setting {
    std::string device; // the device's name
    bool optimise;      // built with --opt
};
std::vector<Setting> Settings();
// "atmega328p", "atmega328p_opt": a test name's suffix.
std::string SettingName(const Setting& s);

// The devices whose run-time is in the build tree, the default first: every
// run test runs on each of them.
std::vector<std::string> DevicesWithRuntime();

// Whether the device's definitions name `symbol` (a port a test needs, say).
bool DeviceHas(const mirtolan::Device& device, const std::string& symbol);

} // namespace runtest
