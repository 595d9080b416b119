#include "state/state.h"

SettingsRecord Settings;
platform::CriticalSection SettingsLock;
AppPathsRecord AppPaths;
platform::Handle InstanceHandle = nullptr;
platform::Handle WindowHandle = nullptr;
platform::Handle StopEvent = nullptr;
platform::Handle WakeEvent = nullptr;
platform::Handle WorkerThread = nullptr;

namespace {

// Under SettingsLock. The marker goes on the worker's thread: a drive asleep would hold the menu for its spin-up.
void RememberDropped(char16_t letter) {
    if (Settings.DroppedDrives.find(letter) == std::u16string::npos)
        Settings.DroppedDrives.push_back(letter);
}

}  // namespace

// Every operation holds SettingsLock for string work only: the worker copies
// the targets under it, so no file or device call may ever wait inside it.

std::u16string SnapshotTargetDrives() {
    platform::EnterCriticalSection(&SettingsLock);
    std::u16string copy = Settings.TargetDrives;
    platform::LeaveCriticalSection(&SettingsLock);
    return copy;
}

// A letter that leaves the targets has its marker deleted, as when it is dropped in the menu.
void ReplaceTargetDrives(const std::u16string& drives, bool chosen) {
    platform::EnterCriticalSection(&SettingsLock);
    for (const char16_t letter : Settings.TargetDrives)
        if (drives.find(letter) == std::u16string::npos)
            RememberDropped(letter);
    Settings.TargetDrives = drives;
    Settings.UnchosenDrives = chosen ? u"" : drives;
    platform::LeaveCriticalSection(&SettingsLock);
}

bool IsTargetDrive(char16_t letter) {
    platform::EnterCriticalSection(&SettingsLock);
    const bool found = Settings.TargetDrives.find(letter) != std::u16string::npos;
    platform::LeaveCriticalSection(&SettingsLock);
    return found;
}

// A marker is made only where the user chose the drive: while their settings file is unread, the
// first-run choices stand in for it, and a marker made there would stay when the file says otherwise.
bool MayMakeMarker(char16_t letter) {
    platform::EnterCriticalSection(&SettingsLock);
    const bool may = Settings.TargetDrives.find(letter) != std::u16string::npos &&
                     Settings.UnchosenDrives.find(letter) == std::u16string::npos;
    platform::LeaveCriticalSection(&SettingsLock);
    return may;
}

// Whichever way it goes, the drive is now the user's own choice.
bool ToggleTargetDrive(char16_t letter) {
    platform::EnterCriticalSection(&SettingsLock);
    std::erase(Settings.UnchosenDrives, letter);
    std::u16string& drives = Settings.TargetDrives;
    const std::size_t at = drives.find(letter);
    const bool added = at == std::u16string::npos;
    // Only the first occurrence goes: a letter repeated by a hand-edited
    // settings file stays a target until every copy has been chosen away.
    if (added) {
        drives.push_back(letter);
    } else {
        drives.erase(at, 1);
        RememberDropped(letter);
    }
    platform::LeaveCriticalSection(&SettingsLock);
    return added;
}

// The dropped letters whose markers are still to go; a letter chosen again since is let go.
std::u16string DroppedDrivesToClear() {
    platform::EnterCriticalSection(&SettingsLock);
    std::u16string dropped;
    for (const char16_t letter : Settings.DroppedDrives)
        if (Settings.TargetDrives.find(letter) == std::u16string::npos)
            dropped.push_back(letter);
    Settings.DroppedDrives = dropped;
    platform::LeaveCriticalSection(&SettingsLock);
    return dropped;
}

// A letter stays among the dropped until the worker is done with its marker, so a held one is tried again.
void ForgetDroppedDrive(char16_t letter) {
    platform::EnterCriticalSection(&SettingsLock);
    const std::size_t at = Settings.DroppedDrives.find(letter);
    if (at != std::u16string::npos)
        Settings.DroppedDrives.erase(at, 1);
    platform::LeaveCriticalSection(&SettingsLock);
}

void SetEnabled(std::int32_t enabled) { Settings.Enabled.exchange(enabled); }

// A load and a store rather than one read-modify-write: the main thread is the
// only writer, so nothing can slip in between.
void FlipEnabled() { Settings.Enabled.exchange(Settings.Enabled.load() == 0 ? 1 : 0); }

void SetIntervalSec(std::int32_t seconds) { Settings.IntervalSec.exchange(seconds); }

void WakeWorker() {
    if (WakeEvent != nullptr)
        platform::SetEvent(WakeEvent);
}
