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
void ReplaceTargetDrives(const std::u16string& drives);
bool IsTargetDrive(char16_t letter);
bool ToggleTargetDrive(char16_t letter);
std::u16string DroppedDrivesToClear();
void ForgetDroppedDrive(char16_t letter);
void SetEnabled(std::int32_t enabled);
void FlipEnabled();
void SetIntervalSec(std::int32_t seconds);
void WakeWorker();
