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
            EXPECT_GE(Settings.IntervalSec + Settings.Enabled + IsTargetDrive(u'E') + MayMakeMarker(u'E'), 15);
            for (const char16_t letter : DroppedDrivesToClear())
                ForgetDroppedDrive(letter);
        }
    });
    for (int i = 0; i < 20000; ++i) {
        ToggleTargetDrive(u'E');
        ReplaceTargetDrives(i % 3 ? u"FE" : u"F", i % 2 == 0);
        SetIntervalSec(i % 2 ? 15 : 120);
        FlipEnabled();
    }
    worker.join();
}

// What the user set, through start-up and the inputs after it: a safe start and one instance first, then
// the settings file read, never written over while it could not be read, saved in full or not at all, a
// save held off landed later, and every change saved and acted on as the user saw it.
TEST_F(World, SettingsSurviveStartUpAndEveryCommand) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const fake::File user = {"Enabled=0\nIntervalSec=60\nDrives=FEF", 0x80, true};  // an editor has it open
    using Input = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;         // a message, wParam, lParam
    const std::uint32_t tray = TrayCallbackMessage;                                 // with a mouse message
    const Input tick = {platform::WmTimer, SettingsTimer, 0};
    const Input query = {0x11, 0, 0};   // WM_QUERYENDSESSION: the session is to end
    const Input logoff = {0x16, 1, 0};  // WM_ENDSESSION
    const auto choose = [](std::uintptr_t command) { return Input{platform::WmCommand, command, 0}; };
    const fake::Fault held = {"CreateFileW", 1, 32, 10};     // through start-up's tries
    const fake::Fault heldSave = {"MoveFileExW", 1, 32, 7};  // through the start-up save's tries
    const std::string openConfig = "CreateFileW " + fake::Ascii(config);
    // A scanner opens each new settings file for a tenth of a second, which holds off its replace.
    const std::u16string fresh = config + u".new";
    const auto release = [fresh] { fake::Files.at(fresh).Written = false; };
    const fake::Fault scanner = fake::Before("WriteFile " + fake::Ascii(fresh), 2, [fresh, release] {
        fake::Files[fresh].Written = true;
        fake::Timed.emplace(fake::Now + 100, release);
    });
    // The settings timer ticks (WM_TIMER, SettingsTimer) while the menu is open.
    const fake::Fault underMenu = fake::Before("TrackPopupMenu", 1, [] { TrayWndProc(nullptr, 0x113, 2, 0); });
    const std::string replaced = "MoveFileExW " + fake::Ascii(config) + " 9";  // in one step, written through
    // faults; the inputs after start-up | whether it started | Enabled, IntervalSec, TargetDrives, -the drives
    // whose markers are to go | the settings file; the worker woken or stopped, the icon gone, the window closed,
    // the settings timer set
    const std::tuple<std::vector<fake::Fault>, std::vector<Input>, std::string> cases[] = {
        {{{"CreateMutexW", 1, 183}}, {}, "no | 1 30  | the user's"},                  // another instance runs
        {{{"CreateMutexW", 1, 5}}, {}, "no | 1 30  | the user's"},                    // ... started as administrator
        {{{"CreateFileW", 1, 2}}, {}, "yes | 1 30 EFJKMZ | saved"},                   // no file: the external drives
        {{{"WriteFile", 1, 0, 1, 7}}, {}, "yes | 0 60 FEF | the user's ticking 5s"},  // the save fails at any step
        {{heldSave, scanner}, {tick}, "yes | 0 60 FEF | saved"},  // ... or longer, and a scanner glances at the new one
        {{{"MoveFileExW", 1, 32, 9}},
         {query, logoff},
         "yes | 0 60 FEF | saved stopped ticking 5s took 3000 ms not restartable"},  // the worker waited for within 3 s
        {{heldSave}, {{platform::WmDestroy, 0, 0}}, "yes | 0 60 FEF | saved gone ticking 5s"},  // exit
        {{{"ReadFile", 1, 23, fake::Ever}},
         {choose(305), tick, logoff},
         "yes | 1 30 EJKMZ -F | the user's woken stopped ticking 10s took 3000 ms"},  // tried less often
        {{{"ReadFile " + fake::Ascii(config), 1, 33, 2}, {openConfig, 3, 3, fake::Ever}},
         {tick, tick, tick},
         "yes | 1 30 EFJKMZ | the user's ticking 10s"},  // locked, then out of reach
        {{held, {openConfig, 11, 2}, {openConfig, 12, 32}, {openConfig, 13, 2}},
         {tick, tick, tick, tick},
         "yes | 0 60 FEF -JKMZ | saved woken"},                                    // gone for an instant, twice
        {{held}, {{tray, 0, 0x203}, tick}, "yes | 0 60 FEF -JKMZ | saved woken"},  // off, as the tooltip said ON
        {{held},
         {choose(305), choose(303), choose(203), tick},
         "yes | 0 120 ED -FJKMZ | saved woken"},  // the user's on top
        {{held},
         {choose(309), choose(309), choose(100), choose(100), choose(203), choose(201), tick},
         "yes | 1 30 FEFJ -KMZ | saved woken"},  // their last word, though it was the first
        {{held, underMenu}, {{tray, 0, 0x205}, choose(309)}, "yes | 0 60 FEF -JKMZ | saved woken"},    // as seen
        {{held, underMenu}, {{tray, 0, 0x7B}, choose(100)}, "yes | 0 60 FEF -JKMZ | saved woken"},     // by keyboard
        {{}, {{tray, 0, 0x205}, {tray, 0, 0x203}, {tray, 0, 0x203}}, "yes | 0 60 FEF | saved woken"},  // menu closed
        {{{"MoveFileExW", 2, 32, 7}}, {choose(203), tick}, "yes | 0 120 FEF | saved woken"},       // held at a command
        {{}, {{0x11, 0, 1}, {0x16, 1, 1}}, "yes | 0 60 FEF | saved stopped closed took 3000 ms"},  // Restart Manager
        {{{"GetSystemMetrics 8192", 1}},
         {{0x11, 0, 1}, {0x16, 1, 1}},
         "yes | 0 60 FEF | saved stopped closed took 3000 ms not restartable"},     // ... to restart Windows
        {{}, {query, {0x16, 0, 0}, choose(325)}, "yes | 0 60 FEFZ | saved woken"},  // the session goes on
        {{}, {choose(305)}, "yes | 0 60 EF | saved woken"},                         // only the first F goes
        {{}, {choose(204)}, "yes | 0 60 FEF | saved"},
    };
    // Before anything loads a DLL, a planted one is out of reach; before any drive is touched, no error
    // box for an empty card reader and no current directory on a target. Another instance: nothing more.
    // Back after an installer's close, never after a crash (1), a hang (2) or an update's reboot (8).
    const Lines first = {"SetDefaultDllDirectories 2048", "CreateMutexW Kestrun_SingleInstance_Mutex", "SetErrorMode 1",
                         "SetCurrentDirectoryW C:\\Windows\\System32", "RegisterApplicationRestart /restarted 11"};
    for (const auto& [faults, inputs, outcome] : cases) {
        TearDown();
        SetUp();
        // Types: 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk, 0 unknown. Buses: 1 SCSI,
        // 3 ATA, 4 IEEE 1394, 7 USB, 8 RAID, 11 SATA, 12 SD, 13 MMC, 17 NVMe. Windows is on C:; V: is a
        // folder of a removable drive that SUBST made a letter.
        fake::Drives = {{'C', {3, 7}},  {'D', {3, 11}}, {'E', {2, 0}}, {'F', {3, 7}}, {'G', {5, 7}},  {'H', {4, 7}},
                        {'I', {3, 17}}, {'J', {3, 12}}, {'K', {3, 4}}, {'L', {3, 3}}, {'M', {3, 13}}, {'N', {3, 8}},
                        {'O', {3, 0}},  {'R', {6, 7}},  {'S', {3, 1}}, {'U', {0, 7}}, {'Z', {2, 0}}};
        fake::Drives['V'] = {.Type = 2, .Subst = true};
        fake::Files = {{config, user}};
        fake::Faults = faults;
        WindowHandle = &SettingsLock;                        // the window the icon belongs to
        WorkerThread = platform::CreateEventW(true, false);  // a worker in a pass that never ends
        platform::DeleteCriticalSection(&SettingsLock);      // as the process starts: start-up makes it
        const bool started = StartKestrun(nullptr);
        if (started) {  // as the program's life goes on
            AddTrayIcon();
            RetrySettingsLater();
        } else {
            platform::InitializeCriticalSection(&SettingsLock);
        }
        const std::uint64_t began = fake::Now;
        std::string refused;  // the end of the session, when the program objects to it
        for (const auto& [message, wParam, lParam] : inputs)
            if (message != platform::WmTimer || fake::Timers.contains(wParam))  // a tick comes only from a timer set
                refused += TrayWndProc(nullptr, message, wParam, lParam) == 0 && message == 0x11 ? " refused" : "";
        const std::string& bytes = fake::Files[config].Bytes;
        const std::string dropped = fake::Ascii(DroppedDrivesToClear());
        const bool saved =
            bytes == FormatSettingsFile(Settings.Enabled, Settings.IntervalSec, SnapshotTargetDrives()) &&
            std::ranges::count(fake::Calls, replaced) > 0;
        std::string after = bytes == user.Bytes ? " | the user's" : saved ? " | saved" : " | " + bytes;
        after += platform::WaitForSingleObject(WakeEvent, 0) == platform::WaitObject0 ? " woken" : "";
        after += platform::WaitForSingleObject(StopEvent, 0) == platform::WaitObject0 ? " stopped" : "";
        after += std::ranges::count(fake::Calls, "Shell_NotifyIconW 2") > 0 ? " gone" : "";  // the icon
        after += std::ranges::count(fake::Calls, "DestroyWindow") > 0 ? " closed" : "";
        after += fake::Timers.contains(SettingsTimer)
                     ? " ticking " + std::to_string(fake::Timers[SettingsTimer] / 1000) + "s"
                     : "";
        const auto registered = std::ranges::count(fake::Calls, "RegisterApplicationRestart /restarted 11");
        after += fake::Now - began >= 1000 ? " took " + std::to_string(fake::Now - began) + " ms" : "";
        after += started && registered == std::ranges::count(fake::Calls, "UnregisterApplicationRestart")
                     ? " not restartable"
                     : "";
        EXPECT_EQ((started ? "yes | " : "no | ") + State() + (dropped.empty() ? "" : " -" + dropped) + after + refused,
                  outcome)
            << outcome;
        EXPECT_TRUE(!started || TrayIcon.Tip == TrayTipText(Settings.Enabled, Settings.IntervalSec)) << "the tooltip";
        EXPECT_FALSE(fake::Files.contains(fresh)) << "a temporary file left beside the settings";
        const std::size_t calls = started ? first.size() : 2;
        EXPECT_EQ(Lines(fake::Calls.begin(), fake::Calls.begin() + calls), Lines(first.begin(), first.begin() + calls));
        platform::CloseHandle(InstanceMutex);
        platform::CloseHandle(WorkerThread);
    }
}
