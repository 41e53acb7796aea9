#include "settings/settings.h"

#include <cstddef>

#include "app/app.h"
#include "common/number.h"
#include "common/text.h"

namespace vel {
namespace {

// The buffer the platform reads a value into; a value keeps at most one
// character less than this.
constexpr int kValueBufferSize = 260;

constexpr int kLowestDelay = 3;
constexpr int kHighestDelay = 60;
constexpr std::int32_t kDefaultTolerance = 30;
constexpr std::int32_t kDefaultPCOffset = 0;

}  // namespace

std::string SettingsFilePath(App& app)
{
    return SettingsFilePath(app.platform.environment);
}

std::string SettingsFilePath(platform::Environment& environment)
{
    const platform::ProgramFolders folders = environment.Process().folders;
    return folders.settings + folders.separator + kSettingsFileName;
}

IniValue ReadIniValue(App& app, const std::string& fileName, const std::string& section, const std::string& key)
{
    return ReadIniValue(app.platform.profile, fileName, section, key);
}

IniValue ReadIniValue(platform::ProfileFile& profile, const std::string& fileName, const std::string& section,
                      const std::string& key)
{
    // Read into a buffer of kValueBufferSize characters: at most one less
    // are kept (the last holds the NUL that ends the text), and the count is
    // of those; a missing key reads as empty.
    std::string buffer = profile.Value(section, key, fileName).value_or("");
    if (buffer.size() > kValueBufferSize - 1)
        buffer.resize(kValueBufferSize - 1);
    const auto count = static_cast<std::int16_t>(buffer.size());
    // A NUL inside the value ends the text there.
    const std::size_t nul = buffer.find('\0');
    if (nul != std::string::npos)
        buffer.resize(nul);
    IniValue result;
    result.value = std::move(buffer);
    result.count = count;
    return result;
}

std::int16_t WriteIniValue(App& app, const std::string& fileName, const std::string& section, const std::string& key,
                           const std::string& value, platform::SystemError* error)
{
    platform::SystemError ignored;
    return app.platform.profile.WriteString(section, key, value, fileName, error ? *error : ignored) ? 1 : 0;
}

void LoadSettings(App& app)
{
    Settings& s = app.settings;
    const std::string path = SettingsFilePath(app);
    auto read = [&](const char* key) { return ReadIniValue(app, path, kSettingsSection, key).value; };

    // A file that must not be used (another user's link, a pipe) reads as
    // missing and is never written; keys beyond the reader's limit read as
    // missing too: say so rather than run on defaults in silence.
    app.settingsWarning.clear();
    const std::size_t limit = app.platform.profile.SizeLimit();
    platform::SystemError unusable;
    // The machine's settings are the administrator's: only read, and where
    // there are none, the defaults apply.
    const bool writable = !app.machineRun;
    if (app.machineRun && !app.platform.environment.IsOrdinaryFile(path))
        app.settingsWarning = "WARNING: the settings file " + path + " does not exist: the default settings apply";
    else if (!app.platform.profile.Usable(path, unusable))
        app.settingsWarning = "WARNING: the settings file " + path + " is not used (" + unusable.description +
                              "): the default settings apply, and nothing is written to it";
    else if (const auto size = app.platform.environment.OrdinaryFileSize(path);
             size && static_cast<std::uint64_t>(*size) > limit)
        app.settingsWarning = "WARNING: the settings file " + path + " is larger than " + std::to_string(limit) +
                              " bytes; only the keys within its first " + std::to_string(limit) + " bytes were read";
    else if (const std::string problem = app.platform.profile.EncodingProblem(path); !problem.empty())
        app.settingsWarning = "WARNING: the settings file " + path + " is no text the program reads (" + problem +
                              "): settings in it may go unread and take their defaults; save it as UTF-8, or as "
                              "UTF-16 LE (Notepad's \"Unicode\")";

    s.NTPServer = read("NTPServer");
    if (IsBlank(s.NTPServer)) {
        s.NTPServer = kDefaultNTPServer;
        if (writable)
            WriteIniValue(app, path, kSettingsSection, "NTPServer", s.NTPServer);
    }

    // Outside 3..60 the delay is clamped and the file repaired; within it the
    // text stays as typed ("10.4" stays, DelaySeconds is 10). Any size
    // counts: "1e999" is above the range.
    s.Delay = read("Delay");
    const double delay = number::WholeValue(s.Delay);
    if (delay < kLowestDelay || delay > kHighestDelay) {
        s.DelaySeconds = static_cast<std::int16_t>(delay < kLowestDelay ? kLowestDelay : kHighestDelay);
        s.Delay = std::to_string(s.DelaySeconds);
        if (writable)
            WriteIniValue(app, path, kSettingsSection, "Delay", s.Delay);
    } else {
        s.DelaySeconds = static_cast<std::int16_t>(delay);
    }

    // An empty Tolerance is the default; a word is the number 0. A number
    // outside the 32-bit range is no usable setting: the key's default.
    const std::string tolerance = read("Tolerance");
    s.Tolerance = tolerance.empty() ? kDefaultTolerance : number::WholeInt32(tolerance).value_or(kDefaultTolerance);
    s.PCOffset = number::WholeInt32(read("PCOffset")).value_or(kDefaultPCOffset);

    s.ConnectionType = read("ConnectionType");
    s.Connectoid = read("Connectoid");
    s.QuietMode = read("QuietMode");
    s.OnlyIfConnected = read("OnlyIfConnected");
    s.Precise = read("Precise");

    // The step guard's limit: empty, or a number outside the 32-bit range,
    // is the default; a word is 0, so that every correction needs a second
    // source (the careful side).
    const std::string stepLimit = read("StepLimit");
    s.StepLimit = stepLimit.empty() ? kDefaultStepLimit : number::WholeInt32(stepLimit).value_or(kDefaultStepLimit);
    s.SecondServers = read("SecondServers");
    s.HTTPSServers = read("HTTPSServers");
    s.HTTPSCheck = read("HTTPSCheck");
    s.NTPFallback = read("NTPFallback");
    s.MetricsFile = read("MetricsFile");
}

bool SaveSettings(App& app)
{
    Settings& s = app.settings;
    const std::string path = SettingsFilePath(app);
    // Every key is tried; the first failure is the one reported.
    std::string failure;
    auto write = [&](const char* key, const std::string& value) {
        platform::SystemError error;
        if (!WriteIniValue(app, path, kSettingsSection, key, value, &error) && failure.empty())
            failure = path + ": " + (error.description.empty() ? std::string("not written") : error.description) +
                      " (error " + std::to_string(error.number) + ")";
    };
    write("NTPServer", s.NTPServer);
    write("ConnectionType", s.ConnectionType);
    write("Connectoid", s.Connectoid);
    write("Delay", s.Delay);
    if (s.QuietMode != "Y")
        s.QuietMode = "N";
    if (s.OnlyIfConnected != "Y")
        s.OnlyIfConnected = "N";
    write("QuietMode", s.QuietMode);
    write("OnlyIfConnected", s.OnlyIfConnected);
    app.settingsSaveError = failure;
    return failure.empty();
}

}  // namespace vel
