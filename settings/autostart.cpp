#include "platform/platform.h"
#include "settings/settings.h"
#include "state/state.h"

namespace {
const std::u16string RunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::u16string ApprovedKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const std::u16string ValueName = u"Kestrun";
constexpr std::uint32_t ReadBufferBytes = 1040;
constexpr std::uint32_t ApprovedBytes = 64;  // Windows writes 12
constexpr std::size_t LongestRunCommand = 260;
// Windows adds the program's path. The documentation has an empty command line remove the one
// registered before; an argument that Kestrun ignores keeps the registration beyond doubt.
const std::u16string RestartArgument = u"/restarted";

std::u16string Quoted(const std::u16string& path) { return u"\"" + path + u"\""; }

std::u16string ReadShortProgramPath() {
    std::u16string buffer(platform::LongestPathUnits, u'\0');
    const std::uint32_t length =
        platform::GetShortPathNameW(AppPaths.ProgramPath, buffer.data(), platform::LongestPathUnits);
    return length < platform::LongestPathUnits ? buffer.substr(0, length) : std::u16string();
}

// The value of our name under StartupApproved\Run, empty when there is none.
std::string ReadApprovedValue() {
    platform::Handle key = nullptr;
    if (platform::RegOpenKeyExW(platform::HkeyCurrentUser, ApprovedKey, 0, platform::KeyQueryValue, &key) != 0)
        return {};
    std::uint32_t type = 0;
    std::uint32_t size = ApprovedBytes;
    char data[ApprovedBytes];
    const bool read = platform::RegQueryValueExW(key, ValueName, &type, data, &size) == 0;
    platform::RegCloseKey(key);
    return read ? std::string(data, size) : std::string();
}
}  // namespace

// Any REG_SZ value of our name that fits the buffer counts, whatever it names,
// unless Windows has switched it off: the menu shows what happens at logon,
// and one click rewrites it.
bool IsAutostartRegistered() {
    platform::Handle key = nullptr;
    if (platform::RegOpenKeyExW(platform::HkeyCurrentUser, RunKey, 0, platform::KeyQueryValue, &key) !=
        static_cast<std::int32_t>(platform::ErrorSuccess))
        return false;
    std::uint32_t type = 0;
    std::uint32_t size = ReadBufferBytes;
    unsigned char data[ReadBufferBytes];
    const bool registered = platform::RegQueryValueExW(key, ValueName, &type, data, &size) ==
                                static_cast<std::int32_t>(platform::ErrorSuccess) &&
                            type == platform::RegSz;
    platform::RegCloseKey(key);
    return registered && !IsStartupDisabled(ReadApprovedValue());
}

// The key is opened, never created: it belongs to Windows.
void SetAutostartRegistered(bool registered) {
    platform::Handle key = nullptr;
    if (platform::RegOpenKeyExW(platform::HkeyCurrentUser, RunKey, 0, platform::KeySetValue, &key) !=
        static_cast<std::int32_t>(platform::ErrorSuccess))
        return;
    if (!registered) {
        platform::RegDeleteValueW(key, ValueName);
    } else if (const std::u16string data = RunCommandLine(AppPaths.ProgramPath, ReadShortProgramPath());
               !data.empty()) {
        const auto size = static_cast<std::uint32_t>((data.size() + 1) * sizeof(char16_t));  // with the terminator
        platform::RegSetValueExW(key, ValueName, platform::RegSz, data.c_str(), size);
        // Registering means starting at logon: lift Windows' switch-off too.
        platform::Handle approved = nullptr;
        if (IsStartupDisabled(ReadApprovedValue()) &&
            platform::RegOpenKeyExW(platform::HkeyCurrentUser, ApprovedKey, 0, platform::KeySetValue, &approved) == 0) {
            platform::RegDeleteValueW(approved, ValueName);
            platform::RegCloseKey(approved);
        }
    }
    platform::RegCloseKey(key);
}

// Windows runs a Run value's command line only within 260 characters: a
// longer path goes in its short (8.3) form, and one that has none that fits is
// not registered at all, so that the menu's check mark tells the truth.
std::u16string RunCommandLine(const std::u16string& programPath, const std::u16string& shortPath) {
    if (programPath.size() + 2 <= LongestRunCommand)
        return Quoted(programPath);
    return !shortPath.empty() && shortPath.size() + 2 <= LongestRunCommand ? Quoted(shortPath) : u"";
}

// An installer or update that closes running programs through the Restart Manager starts those
// registered here again once it is done, and the drives are kept awake again. A crash, a hang or a
// reboot for an update must not start Kestrun, nor must the next logon: that is the Run value's alone,
// so the window procedure takes the registration back when the session ends.
void SetRestartRegistered(bool registered) {
    if (registered)
        platform::RegisterApplicationRestart(
            RestartArgument, platform::RestartNoCrash | platform::RestartNoHang | platform::RestartNoReboot);
    else
        platform::UnregisterApplicationRestart();
}
