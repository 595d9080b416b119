#include "app/state.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {
const std::u16string RunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::u16string ValueName = u"Kestrun";
constexpr std::uint32_t ReadBufferBytes = 1040;
}  // namespace

// Any REG_SZ value of our name that fits the buffer counts, whatever it names:
// the menu shows what the registry holds, and one click rewrites it.
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
    return registered;
}

// The key is opened, never created: it belongs to Windows.
void SetAutostartRegistered(bool registered) {
    platform::Handle key = nullptr;
    if (platform::RegOpenKeyExW(platform::HkeyCurrentUser, RunKey, 0, platform::KeySetValue, &key) !=
        static_cast<std::int32_t>(platform::ErrorSuccess))
        return;
    if (registered) {
        const std::u16string data = QuotedProgramPath();
        const auto size = static_cast<std::uint32_t>((data.size() + 1) * sizeof(char16_t));  // with the terminator
        platform::RegSetValueExW(key, ValueName, platform::RegSz, data.c_str(), size);
    } else {
        platform::RegDeleteValueW(key, ValueName);
    }
    platform::RegCloseKey(key);
}

std::u16string QuotedProgramPath() { return u"\"" + AppPaths.ProgramPath + u"\""; }
