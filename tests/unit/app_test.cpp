#include <algorithm>
#include <thread>

#include "app/main.h"
#include "drives/drives.h"
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
        SetIntervalSec(i % 2 ? 15 : 120);
        FlipEnabled();
    }
    worker.join();
}

TEST_F(World, CandidateDrivesAndDefaults) {
    // Windows on C:. Types: 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk.
    // Buses: 1 SCSI, 3 ATA, 4 IEEE 1394, 7 USB, 8 RAID, 11 SATA, 12 SD, 13 MMC, 17 NVMe.
    fake::Drives = {{'C', {3, 7}},  {'D', {3, 11}}, {'E', {2, 0}}, {'F', {3, 7}}, {'G', {5, 7}},  {'H', {4, 7}},
                    {'I', {3, 17}}, {'J', {3, 12}}, {'K', {3, 4}}, {'L', {3, 3}}, {'M', {3, 13}}, {'N', {3, 8}},
                    {'O', {3, 0}},  {'R', {6, 7}},  {'S', {3, 1}}, {'U', {0, 7}}, {'Z', {2, 0}}};
    AppPaths.SystemDriveLetter = u"c";  // as the Windows directory may spell it
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKLMNOSZ");
    std::u16string labels;  // as the menu shows them
    for (const char16_t letter : ListCandidateDrives())
        labels += BusLabel(letter) + u" ";
    EXPECT_EQ(fake::Utf8(labels), "SATA リムーバブル USB NVMe SD IEEE1394 ATA MMC RAID 内蔵 SCSI リムーバブル ");
    EXPECT_TRUE(DefaultTargetDrives() == u"EFJKMZ");
    fake::Faults = {{"CreateFileW", 2, 5}, {"DeviceIoControl", 3, 1}};  // neither F nor J tells its bus
    fake::Calls.clear();
    EXPECT_TRUE(DefaultTargetDrives() == u"EKMZ");
}

// The whole life on the fake, from start to the exit command: Explorer restarts
// and E is dropped on the way; the worker runs when shutdown waits for it.
TEST_F(World, RunsFromStartToExitAndNeverWritesOverAFileItCouldNotRead) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const std::u16string e = u"E:\\.kestrun.dat";
    const fake::File user = {"\xEF\xBB\xBFIntervalSec=60\nDrives=EF", 0x80, true};  // an editor has it open
    const fake::File marker = {std::string(4096, '\0'), 0x6};
    const fake::Fault hangs = fake::Before("SetFileTime", 1, [] { fake::Now += 600000; });  // F never answers
    const fake::Fault bigEndian = fake::Before("CreateFileW", 1, [&] { fake::Files[config].Bytes = "\xFE\xFF"; });
    // faults | how it ended | Enabled, IntervalSec, TargetDrives at the end | the settings file when the loop
    // starts | the icon after Explorer restarted (it is removed at the end) | E's marker | what is left open
    const std::pair<std::vector<fake::Fault>, std::string> cases[] = {
        {{{"CreateMutexW", 1, 183}}, "returned 0 | 1 30  | - | none | kept | mutex"},  // another instance
        {{{"CreateMutexW", 1, 5}}, "returned 0 | 1 30  | - | none | kept | mutex"},    // ... as administrator
        {{}, "returned 0 | 1 60 F | saved | back | gone | "},
        {{{"CreateFileW", 1, 32}}, "returned 0 | 1 60 F | saved | back | gone | "},       // held a moment
        {{{"CreateFileW", 1, 33}}, "returned 0 | 1 60 F | saved | back | gone | "},       // locked a moment
        {{{"CreateFileW", 1, 2}}, "returned 0 | 1 30 F | saved | back | gone | "},        // no file
        {{{"CreateFileW", 1, 3}}, "returned 0 | 1 30 F | saved | back | gone | "},        // no folder
        {{{"ReadFile", 1, 23}}, "returned 0 | 1 30 F | kept | back | gone | "},           // a device error
        {{{"CreateFileW", 1, 5}}, "returned 0 | 1 30 F | kept | back | gone | "},         // access denied
        {{{"CreateFileW", 1, 32, true}}, "returned 0 | 1 30 F | kept | back | gone | "},  // held throughout
        {{hangs}, "exited 0 | 1 60 F | saved | back | gone | mutex event event thread"},
        {{{"LoadImageW", 1, 0, true}}, "returned 0 | 1 60 F | saved | back | gone | "},  // the stock icon instead
        {{bigEndian}, "returned 0 | 1 30 F | saved | back | gone | "},  // a byte order refused: no file
        {{{"CreateWindowExW", 1}}, "returned 0 | 1 60 EF | - | none | kept | "},
        {{{"CreateEventW", 1}}, "returned 0 | 1 60 EF | - | none | kept | "},
        {{{"CreateEventW", 2}}, "returned 0 | 1 60 EF | - | none | kept | "},
        {{{"CreateThread", 1}}, "returned 0 | 1 60 EF | - | none | kept | "},
    };
    // Before anything loads a DLL, a planted one is out of reach; before any drive is touched, no error
    // box for an empty card reader and no current directory on a target. Another instance: nothing more.
    const Lines first = {"SetDefaultDllDirectories 2048", "CreateMutexW Kestrun_SingleInstance_Mutex", "SetErrorMode 1",
                         "SetCurrentDirectoryW C:\\Windows\\System32"};
    for (const auto& [faults, outcome] : cases) {
        TearDown();
        SetUp();
        platform::CloseHandle(StopEvent);  // as the process starts: no lock, no events, no window, no icon
        platform::CloseHandle(WakeEvent);
        platform::DeleteCriticalSection(&SettingsLock);
        StopEvent = nullptr;
        WakeEvent = nullptr;
        TrayIcon = {};
        fake::Drives = {{'C', {}}, {'E', {2}}, {'F', {2}}};
        fake::Files = {{config, user}, {e, marker}, {u"F:\\.kestrun.dat", marker}};
        fake::ModulePath = u"C:\\" + std::u16string(300, u'k') + u"\\Kestrun.exe";  // longer than MAX_PATH
        fake::Queue = {{platform::RegisterWindowMessageW(u"TaskbarCreated")},
                       {platform::WmCommand, 304},
                       {platform::WmCommand, 103}};
        std::string atStart = "-";
        bool iconBack = false;
        fake::Faults = faults;
        fake::Faults.push_back(fake::Before("GetMessageW", 1, [&] {
            atStart =
                std::ranges::count(fake::Calls, "MoveFileExW " + fake::Utf8(config) + " 9") > 0 ? "saved" : "kept";
            fake::Icon.Shown = false;
        }));
        fake::Faults.push_back(fake::Before("GetMessageW", 2, [&] { iconBack = fake::Icon.Shown; }));
        fake::Calls.clear();
        std::string ended;
        try {
            ended = "returned " + std::to_string(RunKestrun(nullptr));
        } catch (const fake::Exited& exited) {
            ended = "exited " + std::to_string(exited.Code);
        }
        const std::string open = fake::OpenHandles();
        const std::string state = std::to_string(Settings.Enabled) + " " + std::to_string(Settings.IntervalSec) + " " +
                                  fake::Utf8(Settings.TargetDrives);
        EXPECT_FALSE(fake::Icon.Shown) << "a dead icon left in the tray";
        EXPECT_EQ(ended + " | " + state + " | " + atStart + " | " + (iconBack ? "back" : "none") + " | " +
                      (fake::Files.contains(e) ? "kept" : "gone") + " | " + open,
                  outcome);
        const std::size_t calls = ended == "returned 0" && atStart == "-" && open == "mutex" ? 2 : 4;
        EXPECT_EQ(Lines(fake::Calls.begin(), fake::Calls.begin() + calls), Lines(first.begin(), first.begin() + calls));
        EXPECT_TRUE(open == "mutex" || AppPaths.ProgramPath == fake::ModulePath);
        platform::CloseHandle(InstanceMutex);
        platform::CloseHandle(WorkerThread);
        platform::DeleteCriticalSection(&SettingsLock);
    }
}
