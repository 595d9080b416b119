// Loads the settings file of the current user through the real platform layer
// and prints the time taken and the process's peak memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "app/state.h"
#include "settings/settings.h"

int main() {
    platform::InitializeCriticalSection(&SettingsLock);
    AppPaths.SystemDriveLetter = u"C";
    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    LoadSettings();
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    const std::u16string drives = SnapshotTargetDrives();
    std::printf("load: %.0f ms; peak working set %.1f MiB (%.1f MiB before the load); IntervalSec=%d, Drives=%zu units\n",
                1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                double(after.PeakWorkingSetSize) / 1048576.0, double(before.PeakWorkingSetSize) / 1048576.0,
                int(Settings.IntervalSec.load()), drives.size());
    return 0;
}
