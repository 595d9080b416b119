#include "app/main.h"
#include "settings/settings.h"
#include "state/state.h"

platform::Handle InstanceMutex = nullptr;

namespace {
constexpr std::uint32_t PathUnits = 260;
}  // namespace

// The whole path, however long: a cut one would register a program that does not exist.
std::u16string ReadProgramPath() {
    for (std::uint32_t size = PathUnits;; size *= 2) {
        std::u16string buffer(size, u'\0');
        const std::uint32_t length = platform::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length < size || size >= platform::LongestPathUnits ||
            platform::GetLastError() != platform::ErrorInsufficientBuffer)
            return buffer.substr(0, length < size ? length : 0);
    }
}

bool StartKestrun(platform::Handle instance) {
    // The system DLLs load further DLLs at run time, and would look for them in
    // the program's folder first: Downloads, where a planted one may wait.
    platform::SetDefaultDllDirectories(platform::LoadLibrarySearchSystem32);
    std::uint32_t error = 0;
    InstanceMutex = platform::CreateMutexW(true, u"Kestrun_SingleInstance_Mutex", &error);
    // Another instance runs: leave without touching anything; the end of the
    // process frees our handle. An instance started as administrator made a
    // mutex that a normal process may not open: access denied says it runs too.
    if (error == platform::ErrorAlreadyExists || error == platform::ErrorAccessDenied)
        return false;
    // No system error box for a card reader without a card: the thread that
    // touched the drive would wait on the box, and the passes with it.
    platform::SetErrorMode(platform::SemFailCriticalErrors);
    // A current directory on a target drive would pin it and block its safe
    // removal; nothing here uses relative paths.
    char16_t systemDirectory[PathUnits] = {};
    if (platform::GetSystemDirectoryW(systemDirectory, PathUnits) != 0)
        platform::SetCurrentDirectoryW(systemDirectory);
    // Back after an installer closed it for a moment, and only then.
    SetRestartRegistered(true);
    platform::CoInitializeEx(platform::CoinitApartmentThreaded);
    platform::InitializeCriticalSection(&SettingsLock);
    InstanceHandle = instance;
    AppPaths.ProgramPath = ReadProgramPath();
    // The shared Windows folder: on a terminal server the per-user one may lie on another drive.
    char16_t windowsDirectory[PathUnits] = {};
    platform::GetSystemWindowsDirectoryW(windowsDirectory, PathUnits);
    AppPaths.SystemDriveLetter = std::u16string(1, windowsDirectory[0]);
    LoadSettings();
    SaveSettings();
    return true;
}
