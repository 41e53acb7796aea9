// The settings record and the settings file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings_record.h"
#include "platform/environment.h"
#include "platform/profile_file.h"

namespace vel {

class App;

// The settings file in the program folder. On Linux "Veltrane.INI" and the
// "Veltrane.ini" of the configuration dialog are one name: this one.
inline constexpr const char* kSettingsFileName = "Veltrane.INI";
inline constexpr const char* kSettingsSection = "Main";
std::string SettingsFilePath(App& app);
std::string SettingsFilePath(platform::Environment& environment);  // the same, before an App exists

// What ReadIniValue gives: the value (at most 259 characters, ending before
// a NUL) and the character count that the platform reported.
struct IniValue {
    std::string value;
    std::int16_t count = 0;
};

// The value of `key` in `section` of `fileName`, the empty text when the
// file, section or key is missing. Read through a 260-character buffer: a
// longer value comes back cut to its first 259 characters.
IniValue ReadIniValue(App& app, const std::string& fileName, const std::string& section, const std::string& key);
IniValue ReadIniValue(platform::ProfileFile& profile, const std::string& fileName, const std::string& section,
                      const std::string& key);

// Writes `value` unchanged under `key`: 1 when the platform wrote it, else 0
// (the reason in `error`, when given).
std::int16_t WriteIniValue(App& app, const std::string& fileName, const std::string& section, const std::string& key,
                           const std::string& value, platform::SystemError* error = nullptr);

// Fills the record from the file, key by key of kSettingKeys, with every
// default and range clamp; may write NTPServer and Delay back, except in the machine's run (App::machineRun),
// which never writes the file and warns where there is none. A file that must not be used (another
// user's link, anything but a regular file) or that is larger than the
// reader takes leaves a warning in app.settingsWarning, for the log.
void LoadSettings(App& app);

// Writes the keys kSettingKeys stores (six), in its order, from the record;
// a yes/no key is first made "Y" or "N". Keys only read are never written.
// False when a write failed: app.settingsSaveError then names the file and
// the reason. The callers say so (a message box, a log line).
bool SaveSettings(App& app);

// "WARNING: the settings could not be saved: " and the reason.
inline constexpr const char* kSettingsNotSavedLogText = "WARNING: the settings could not be saved: ";

}  // namespace vel
