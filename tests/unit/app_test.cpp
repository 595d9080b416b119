#include <algorithm>
#include <thread>

#include "app/main.h"
#include "settings/settings.h"
#include "tests/unit/world.h"
#include "tray/tray.h"

using Lines = std::vector<std::string>;

// Under ThreadSanitizer: every value both threads touch, changed by the main
// thread while the worker reads it, as a pass and its clean-up of dropped drives do.
TEST_F(World, WorkerAndMainThreadShareTheSettingsSafely) {
    ReplaceTargetDrives(u"F");
    std::thread worker([] {
        for (int i = 0; i < 20000; ++i) {
            EXPECT_TRUE(SnapshotTargetDrives().starts_with(u"F"));
            EXPECT_GE(Settings.IntervalSec + Settings.Enabled + IsTargetDrive(u'E'), 15);
            for (const char16_t letter : DroppedDrivesToClear())
                ForgetDroppedDrive(letter);
        }
    });
    for (int i = 0; i < 20000; ++i) {
        ToggleTargetDrive(u'E');
        ReplaceTargetDrives(i % 3 ? u"FE" : u"F");
        SetIntervalSec(i % 2 ? 15 : 120);
        FlipEnabled();
    }
    worker.join();
}

// What the user set, through start-up and one input after it: a safe start and one instance
// first, then the settings file read, never written over while it could not be read, saved in
// full or not at all, and every change saved and acted on at once.
TEST_F(World, SettingsSurviveStartUpAndEveryCommand) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const fake::File user = {"Enabled=0\nIntervalSec=60\nDrives=FEF", 0x80, true};  // an editor has it open
    const std::uint32_t command = platform::WmCommand;
    const std::uint32_t tray = TrayCallbackMessage;                            // with a mouse message
    const std::string replaced = "MoveFileExW " + fake::Ascii(config) + " 9";  // in one step, written through
    // a fault; an input after start-up; whether it started | Enabled, IntervalSec, TargetDrives, -the drives
    // whose markers are to go | the settings file, and whether the worker was woken
    const std::tuple<fake::Fault, std::uint32_t, std::uintptr_t, std::string> cases[] = {
        {{"CreateMutexW", 1, 183}, 0, 0, "no | 1 30  | the user's"},  // another instance runs
        {{"CreateMutexW", 1, 5}, 0, 0, "no | 1 30  | the user's"},    // ... started as administrator
        {{}, 0, 0, "yes | 0 60 FEF | saved"},
        {{"CreateFileW", 1, 32}, 0, 0, "yes | 0 60 FEF | saved"},      // held a moment
        {{"CreateFileW", 1, 2}, 0, 0, "yes | 1 30 EFJKMZ | saved"},    // no file: the external drives
        {{"WriteFile", 1, 112}, 0, 0, "yes | 0 60 FEF | the user's"},  // the save fails at any step
        {{"WriteFile", 1, 0, 1, 7}, 0, 0, "yes | 0 60 FEF | the user's"},
        {{"FlushFileBuffers", 1, 5}, 0, 0, "yes | 0 60 FEF | the user's"},
        {{"MoveFileExW", 1, 32, fake::Ever}, 0, 0, "yes | 0 60 FEF | the user's"},
        {{"MoveFileExW", 1, 32, 3}, 0, 0, "yes | 0 60 FEF | saved"},                      // a scanner holds it a while
        {{"CreateFileW", 1, 32, 10}, command, 305, "yes | 0 60 EF -JKMZ | saved woken"},  // held at start-up
        {{"ReadFile", 1, 23}, tray, 0x205, "yes | 0 60 FEF -JKMZ | the user's woken"},    // read again for the menu
        {{"ReadFile", 1, 23, fake::Ever}, command, 305, "yes | 1 30 EJKMZ -F | the user's woken"},  // never read
        {{}, command, 0x50064, "yes | 1 60 FEF | saved woken"},  // on; the high word is ignored
        {{}, command, 203, "yes | 0 120 FEF | saved woken"},
        {{}, command, 325, "yes | 0 60 FEFZ | saved woken"},
        {{}, command, 305, "yes | 0 60 EF | saved woken"},  // only the first F goes
        {{}, tray, 0x202, "yes | 0 60 FEF | saved"},        // a single click
        {{}, command, 204, "yes | 0 60 FEF | saved"},
    };
    // Before anything loads a DLL, a planted one is out of reach; before any drive is touched, no error
    // box for an empty card reader and no current directory on a target. Another instance: nothing more.
    const Lines first = {"SetDefaultDllDirectories 2048", "CreateMutexW Kestrun_SingleInstance_Mutex", "SetErrorMode 1",
                         "SetCurrentDirectoryW C:\\Windows\\System32"};
    for (const auto& [fault, message, param, outcome] : cases) {
        TearDown();
        SetUp();
        // Types: 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk, 0 unknown. Buses: 1 SCSI,
        // 3 ATA, 4 IEEE 1394, 7 USB, 8 RAID, 11 SATA, 12 SD, 13 MMC, 17 NVMe. Windows is on C:.
        fake::Drives = {{'C', {3, 7}},  {'D', {3, 11}}, {'E', {2, 0}}, {'F', {3, 7}}, {'G', {5, 7}},  {'H', {4, 7}},
                        {'I', {3, 17}}, {'J', {3, 12}}, {'K', {3, 4}}, {'L', {3, 3}}, {'M', {3, 13}}, {'N', {3, 8}},
                        {'O', {3, 0}},  {'R', {6, 7}},  {'S', {3, 1}}, {'U', {0, 7}}, {'Z', {2, 0}}};
        fake::Files = {{config, user}};
        fake::Faults = {fault};
        platform::DeleteCriticalSection(&SettingsLock);  // as the process starts: start-up makes it
        const bool started = StartKestrun(nullptr);
        if (!started)
            platform::InitializeCriticalSection(&SettingsLock);
        if (message != 0)
            TrayWndProc(nullptr, message, message == tray ? 0 : param, message == tray ? param : 0);
        const std::string& bytes = fake::Files[config].Bytes;
        const std::string dropped = fake::Ascii(DroppedDrivesToClear());
        const bool saved =
            bytes == FormatSettingsFile(Settings.Enabled, Settings.IntervalSec, SnapshotTargetDrives()) &&
            std::ranges::count(fake::Calls, replaced) > 0;
        const bool woken = platform::WaitForSingleObject(WakeEvent, 0) == platform::WaitObject0;
        const std::string file = bytes == user.Bytes ? " | the user's" : saved ? " | saved" : " | " + bytes;
        EXPECT_EQ((started ? "yes | " : "no | ") + State() + (dropped.empty() ? "" : " -" + dropped) + file +
                      (woken ? " woken" : ""),
                  outcome)
            << fault.Call << message << param;
        EXPECT_FALSE(fake::Files.contains(config + u".new")) << "a temporary file left beside the settings";
        const std::size_t calls = started ? first.size() : 2;
        EXPECT_EQ(Lines(fake::Calls.begin(), fake::Calls.begin() + calls), Lines(first.begin(), first.begin() + calls));
        platform::CloseHandle(InstanceMutex);
    }
}
