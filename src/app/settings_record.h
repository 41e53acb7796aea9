// The settings record, and the table of the settings file's keys: what the
// file holds, how each key is read and written, as the run uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vel {

// NTPServer when the file holds none, or only blanks. Once the Naval
// Observatory's tick.usno.navy.mil; its servers answer NTP only, and only to
// the servers of others (its "Network Time Protocol (NTP)" page, 2026-12-08,
// and its copies of 2009 and 2013): no Daytime server of its answers today.
// So NIST's name for all of its servers, which answer Daytime and NTP. A file
// that still names the old one is asked through this one
// (timesource/time_servers).
inline constexpr const char* kDefaultNTPServer = "time.nist.gov (NIST Internet Time Service)";

// StepLimit when the file has none: a correction of more than an hour needs
// a second source.
inline constexpr std::int32_t kDefaultStepLimit = 3600;

// One record per process; the fields carry the names of the INI keys. Each
// key's reading is its row of kSettingKeys below.
struct Settings {
    std::string NTPServer;          // "host (operator, place)": the host is the text before the first blank
    std::string Delay;              // start delay as the user typed it
    std::int16_t DelaySeconds = 0;  // whole seconds derived from Delay, 3..60 after a load
    std::int32_t Tolerance = 0;     // seconds of clock error left alone
    std::int32_t PCOffset = 0;      // seconds the PC clock is to run ahead of the server (negative: behind)
    std::string ConnectionType;     // "LAN", "MODEM" or "BOTH" as the dialog writes it
    std::string Connectoid;         // dial-up entry to dial; empty: none
    std::string QuietMode;          // yes: no window
    std::string OnlyIfConnected;    // yes: no query without a connection
    std::string Precise;            // yes: further queries find the server's second
    // The step guard's keys: a correction larger than StepLimit seconds needs
    // a second source that agrees; the Daytime servers asked for it
    // (SecondServers), the HTTPS servers whose Date is asked (HTTPSServers)
    // and when they are asked (HTTPSCheck). Empty lists mean the built-in ones.
    std::int32_t StepLimit = kDefaultStepLimit;
    std::string SecondServers;
    std::string HTTPSServers;
    std::string HTTPSCheck;
    std::string NTPFallback;  // yes: a bare host silent on TCP 13 is asked over NTP
    std::string MetricsFile;  // the machine's runs' metrics file; empty: the system's place
};

// How a key's text becomes its field.
enum class SettingKind : std::uint8_t {
    Text,     // as it comes (no surrounding blanks, at most 259 characters); `blankDefault`, when set, replaces a
              // blank text
    YesNo,    // text whose yes is `yes`'s rule; a save writes "Y" or "N" (and puts it in the record)
    Number,   // a whole 32-bit number, halves to even: empty or beyond 32 bits is `numberDefault`, a word 0
    Clamped,  // text as typed and its whole number in `seconds`; outside lowest..highest both become the bound
};

// Which texts of a yes/no key count as yes. Nothing else does: "y", "yes"
// and " Y" are no.
enum class YesWhen : std::uint8_t {
    OnlyY,     // exactly "Y"; a missing key is no
    EmptyOrY,  // exactly "Y", or nothing at all; a missing key is yes
};

// Whether the program writes the key. A written key is saved from the record
// on every save (dialog OK, the status window closing), and a load that had
// to replace its value (a default for a blank text, a clamp) writes that back
// at once. Keys only read are never written: a hand-added line stays as it
// is through any number of saves.
enum class Stored : std::uint8_t { ReadOnly, Written };

// One key of the settings file, section Main; made by the functions below,
// which set the field pointers its kind needs: `text` (Text, YesNo,
// Clamped), `number` (Number), `seconds` (Clamped).
struct SettingKey {
    const char* name;
    SettingKind kind;
    Stored stored;
    // The configuration dialog's control that shows it; null: only the file.
    // A YesNo key's control is a check box the dialog binds by this row.
    const char* control = nullptr;
    std::string Settings::*text = nullptr;
    std::int32_t Settings::*number = nullptr;
    std::int16_t Settings::*seconds = nullptr;
    YesWhen yes = YesWhen::OnlyY;
    const char* blankDefault = nullptr;
    std::int32_t numberDefault = 0;
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
};

// The rows, by kind. A number is only read: the program writes none.
constexpr SettingKey TextKey(const char* name, std::string Settings::*field, Stored stored,
                             const char* control = nullptr, const char* blankDefault = nullptr)
{
    return {.name = name,
            .kind = SettingKind::Text,
            .stored = stored,
            .control = control,
            .text = field,
            .blankDefault = blankDefault};
}
constexpr SettingKey YesNoKey(const char* name, std::string Settings::*field, YesWhen yes, Stored stored,
                              const char* control = nullptr)
{
    return {.name = name, .kind = SettingKind::YesNo, .stored = stored, .control = control, .text = field, .yes = yes};
}
constexpr SettingKey NumberKey(const char* name, std::int32_t Settings::*field, std::int32_t byDefault)
{
    return {.name = name,
            .kind = SettingKind::Number,
            .stored = Stored::ReadOnly,
            .number = field,
            .numberDefault = byDefault};
}
constexpr SettingKey ClampedKey(const char* name, std::string Settings::*text, std::int16_t Settings::*seconds,
                                std::int16_t lowest, std::int16_t highest, Stored stored, const char* control = nullptr)
{
    return {.name = name,
            .kind = SettingKind::Clamped,
            .stored = stored,
            .control = control,
            .text = text,
            .seconds = seconds,
            .lowest = lowest,
            .highest = highest};
}

// The keys in the order a load reads them and a save writes them: written
// keys first, in the order a first configuration leaves them in a new file
// (NTPServer and Delay from the loader's repair, the others appended by the
// first save), then the keys only read. A new key is a field above and a
// row here (a check box in the dialog: its control, named in the row, in
// ConfigurationDialogSpec).
inline constexpr SettingKey kSettingKeys[] = {
    // The host is the text before the first blank; blank: the built-in server, written back.
    TextKey("NTPServer", &Settings::NTPServer, Stored::Written, "cboNTPServer", kDefaultNTPServer),
    // The connection step reads its first letter in any case (L, B, else dial-up); the
    // dialog the whole text ("MODEM", "LAN", else both).
    TextKey("ConnectionType", &Settings::ConnectionType, Stored::Written, "fraHowToConnect"),
    TextKey("Connectoid", &Settings::Connectoid, Stored::Written, "cboISPList"),
    // Outside 3..60 clamped and written back; "10.4" stays as typed, DelaySeconds 10.
    ClampedKey("Delay", &Settings::Delay, &Settings::DelaySeconds, 3, 60, Stored::Written, "txtStartDelay"),
    YesNoKey("QuietMode", &Settings::QuietMode, YesWhen::OnlyY, Stored::Written, "chkQuietMode"),
    YesNoKey("OnlyIfConnected", &Settings::OnlyIfConnected, YesWhen::OnlyY, Stored::Written, "chkOnlyIfConnected"),
    NumberKey("Tolerance", &Settings::Tolerance, 30),
    NumberKey("PCOffset", &Settings::PCOffset, 0),
    YesNoKey("Precise", &Settings::Precise, YesWhen::EmptyOrY, Stored::ReadOnly),
    // A word is 0: every correction needs a second source (the careful side).
    NumberKey("StepLimit", &Settings::StepLimit, kDefaultStepLimit),
    // Read by the step guard: blank, the built-in servers; exactly "N", none.
    TextKey("SecondServers", &Settings::SecondServers, Stored::ReadOnly),
    // Blank: the built-in HTTPS servers.
    TextKey("HTTPSServers", &Settings::HTTPSServers, Stored::ReadOnly),
    // Exactly "N": never; "ALWAYS" in any case: every correction; else over StepLimit.
    TextKey("HTTPSCheck", &Settings::HTTPSCheck, Stored::ReadOnly),
    YesNoKey("NTPFallback", &Settings::NTPFallback, YesWhen::EmptyOrY, Stored::ReadOnly),
    // The machine's runs' metrics file; blank: the system's place.
    TextKey("MetricsFile", &Settings::MetricsFile, Stored::ReadOnly),
};

inline constexpr std::span<const SettingKey> SettingKeys()
{
    return kSettingKeys;
}

// Whether a yes/no key's text says yes: the one rule for every such key.
constexpr bool ReadsAsYes(const SettingKey& key, std::string_view text)
{
    return text == "Y" || (key.yes == YesWhen::EmptyOrY && text.empty());
}

// The row of a field. Every field has one (each key's test reads it); a
// field without one stops the program where it is asked.
constexpr const SettingKey& SettingKeyOf(std::string Settings::*field)
{
    for (const SettingKey& key : kSettingKeys)
        if (key.text == field)
            return key;
    throw "a field of the settings record without a row in kSettingKeys";
}

// Whether the yes/no key of `kField` says yes: SaysYes<&Settings::QuietMode>(settings).
template <std::string Settings::*kField>
bool SaysYes(const Settings& settings)
{
    return ReadsAsYes(SettingKeyOf(kField), settings.*kField);
}

// Key names match without regard to case in the file, as the platform's
// reader compares them (ASCII names).
constexpr bool SameKeyName(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Each row holds the fields its kind needs, a written key has a text, and
// no name is there twice.
consteval bool SettingKeysAreWhole()
{
    for (const SettingKey& key : kSettingKeys) {
        const bool fits = key.kind == SettingKind::Number
                              ? key.number != nullptr && key.text == nullptr
                              : key.text != nullptr && key.number == nullptr &&
                                    (key.kind == SettingKind::Clamped) == (key.seconds != nullptr) &&
                                    (key.kind != SettingKind::Clamped || key.lowest <= key.highest);
        // A save writes a text field.
        if (!fits || (key.stored == Stored::Written && key.text == nullptr))
            return false;
        for (const SettingKey& other : kSettingKeys)
            if (&other != &key && SameKeyName(other.name, key.name))
                return false;
    }
    return true;
}
static_assert(SettingKeysAreWhole(), "a row of kSettingKeys lacks a field its kind needs, or repeats a name");

}  // namespace vel
