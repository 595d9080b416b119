#pragma once
// Process-wide values shared by the main thread and the keep-awake worker.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"

struct SettingsRecord {
    std::atomic<std::int32_t> Enabled{1};
    std::atomic<std::int32_t> IntervalSec{30};
    std::u16string TargetDrives;   // guarded by SettingsLock
    std::u16string DroppedDrives;  // guarded by SettingsLock: drives whose markers the worker is still to delete
    // Guarded by SettingsLock: targets only by the first-run choices, while the user's settings file is unread.
    std::u16string UnchosenDrives;
};

struct AppPathsRecord {
    std::u16string ProgramPath;
    std::u16string SettingsFilePath;
    std::u16string SystemDriveLetter;
};

extern SettingsRecord Settings;
extern platform::CriticalSection SettingsLock;
extern AppPathsRecord AppPaths;
extern platform::Handle InstanceHandle;
extern platform::Handle WindowHandle;
extern platform::Handle StopEvent;
extern platform::Handle WakeEvent;
extern platform::Handle WorkerThread;

std::u16string SnapshotTargetDrives();
// `chosen` false: the drives are the first-run choices, standing in for a settings file not read yet.
void ReplaceTargetDrives(const std::u16string& drives, bool chosen = true);
bool IsTargetDrive(char16_t letter);
bool MayMakeMarker(char16_t letter);
bool ToggleTargetDrive(char16_t letter);
std::u16string DroppedDrivesToClear();
void ForgetDroppedDrive(char16_t letter);
void SetEnabled(std::int32_t enabled);
void FlipEnabled();
void SetIntervalSec(std::int32_t seconds);
void WakeWorker();
