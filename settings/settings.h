#pragma once
// The settings file config.ini and the start-with-Windows registration.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

void LoadSettings();
// Writes nothing while SettingsFileUnread holds; a save that fails counts in SettingsSaveFailures.
void SaveSettings();
// True while a settings file that is there has not been read whole since start-up.
extern bool SettingsFileUnread;
// Saves that failed in a row: while above 0, the values in memory have not reached the file.
extern std::uint32_t SettingsSaveFailures;
// One more try at either; true when the values in memory may have changed.
bool SettleSettings();
// How long until that next try; 0 when the file is read and saved.
std::uint32_t SettleDelayMs();

// The settings the user commanded while the file was unread: their last word on each of these wins
// over the file once it is read.
struct CommandedSettings {
    bool Enabled = false;
    bool IntervalSec = false;
    std::u16string Drives;  // each letter once
};
extern CommandedSettings UserCommands;

bool IsAutostartRegistered();
void SetAutostartRegistered(bool registered);
// Whether Windows starts Kestrun again after an installer or update closed it for a moment.
void SetRestartRegistered(bool registered);
// The Run value's data for the program at `programPath`; empty when none that Windows runs exists.
std::u16string RunCommandLine(const std::u16string& programPath, const std::u16string& shortPath);
// Task Manager and Settings switch a Run entry off by writing a value of the
// same name under StartupApproved\Run whose first byte is odd; the Run value stays.
inline bool IsStartupDisabled(std::string_view approvedValue) {
    return !approvedValue.empty() && (approvedValue[0] & 1) != 0;
}

// What a settings file says, read leniently; starts at the defaults.
struct SettingsValues {
    std::int32_t Enabled = 1;
    std::int32_t IntervalSec = 30;
    std::u16string Drives;
};

// The settings file's exact bytes for these values.
std::string FormatSettingsFile(std::int32_t enabled, std::int32_t intervalSec, std::u16string_view drives);
