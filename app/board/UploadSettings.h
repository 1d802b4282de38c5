// What the Upload settings dialog and the serial monitor remember: the
// programmer, the port and the speeds, kept in the settings file's
// [Upload] section.
#pragma once

#include <string>

#include "Settings.h"

namespace mirtolan {

struct UploadSettings {
    std::string programmer = "arduino"; // avrdude's -c id
    std::string port;                   // the board's port; empty: the first one found
    unsigned baud = 0;                  // avrdude's -b speed; 0: the programmer's own
    unsigned monitorBaud = 9600;        // the serial monitor's speed
};

// Speeds offered for the monitor and the upload, as the Arduino IDE offers them.
inline constexpr unsigned SerialSpeeds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

UploadSettings ReadUploadSettings(const IniFile& ini);
void WriteUploadSettings(IniFile& ini, const UploadSettings& s);

} // namespace mirtolan
