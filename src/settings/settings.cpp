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

// Puts the text read for `key` into the record by its kind; true when the
// text was replaced (a default for a blank, a clamp), which a written key
// writes back.
bool Store(const SettingKey& key, const std::string& text, Settings& s)
{
    switch (key.kind) {
        case SettingKind::Text:
            // Anything else, however odd, is kept as it is.
            if (key.blankDefault != nullptr && IsBlank(text)) {
                s.*key.text = key.blankDefault;
                return true;
            }
            s.*key.text = text;
            return false;
        case SettingKind::YesNo:
            // As it comes: "y" stays "y" (and is no) until a save.
            s.*key.text = text;
            return false;
        case SettingKind::Number:
            // An empty text is the default; a word is the number 0. A number
            // outside the 32-bit range is no usable setting: the default.
            s.*key.number = text.empty() ? key.numberDefault : number::WholeInt32(text).value_or(key.numberDefault);
            return false;
        case SettingKind::Clamped: {
            // Outside the range the number is clamped and the text follows;
            // within it the text stays as typed. Any size counts: "1e999" is
            // above the range.
            const double value = number::WholeValue(text);
            if (value < key.lowest || value > key.highest) {
                s.*key.seconds = value < key.lowest ? key.lowest : key.highest;
                s.*key.text = std::to_string(s.*key.seconds);
                return true;
            }
            s.*key.seconds = static_cast<std::int16_t>(value);
            s.*key.text = text;
            return false;
        }
    }
    return false;
}

// The text a save writes for `key`: a yes/no key becomes exactly "Y" or "N",
// in the record too.
const std::string& TextToSave(const SettingKey& key, Settings& s)
{
    std::string& text = s.*key.text;
    if (key.kind == SettingKind::YesNo)
        text = ReadsAsYes(key, text) ? "Y" : "N";
    return text;
}

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

    for (const SettingKey& key : SettingKeys()) {
        const bool replaced = Store(key, read(key.name), s);
        if (replaced && writable && key.stored == Stored::Written)
            WriteIniValue(app, path, kSettingsSection, key.name, s.*key.text);
    }
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
    for (const SettingKey& key : SettingKeys())
        if (key.stored == Stored::Written)
            write(key.name, TextToSave(key, s));
    app.settingsSaveError = failure;
    return failure.empty();
}

}  // namespace vel
