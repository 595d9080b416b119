#include <thread>

#include "app/main.h"
#include "drives/drives.h"
#include "settings/settings.h"
#include "tests/unit/world.h"
#include "tray/tray.h"

TEST_F(World, ToggleAppendsAtTheEndAndDropsTheFirstOccurrence) {
    // before, the letter, after, whether it was added, the markers then to delete
    const std::tuple<std::u16string, char16_t, std::u16string, bool, std::u16string> cases[] = {
        {u"", u'E', u"E", true, u""},
        {u"FE", u'G', u"FEG", true, u""},
        {u"EFE", u'E', u"FE", false, u""},  // still a target: its marker stays
        {u"EF", u'F', u"E", false, u"F"},
        {u"E", u'e', u"Ee", true, u""}};
    for (const auto& [before, letter, after, added, dropped] : cases) {
        ReplaceTargetDrives(before);
        EXPECT_EQ(ToggleTargetDrive(letter), added);
        EXPECT_TRUE(SnapshotTargetDrives() == after && TakeDroppedDrives() == dropped);
    }
}

// Under ThreadSanitizer: the worker's reads race the main thread's changes.
TEST_F(World, WorkerAndMainThreadShareTheTargetsSafely) {
    ReplaceTargetDrives(u"F");
    std::thread worker([] {
        for (int i = 0; i < 20000; ++i) {
            const std::u16string copy = SnapshotTargetDrives();
            EXPECT_TRUE(copy == u"F" || copy == u"FE") << i;
            EXPECT_GE(Settings.IntervalSec.load() + IsTargetDrive(u'E'), 15);
        }
    });
    for (int i = 0; i < 20000; ++i)
        ToggleTargetDrive(u'E'), SetIntervalSec(i % 2 ? 15 : 120), FlipEnabled();
    worker.join();
}

TEST_F(World, CandidateDrivesDefaultsAndBusLabels) {
    // Windows on C:. Types: 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk.
    // Buses: 1 SCSI, 4 IEEE 1394, 7 USB, 11 SATA, 12 SD, 13 MMC, 17 NVMe.
    fake::Drives = {{'C', {3, 7}}, {'D', {3, 11}}, {'E', {2, 0}},  {'F', {3, 7}}, {'G', {5, 7}},
                    {'H', {4, 7}}, {'I', {3, 17}}, {'J', {3, 12}}, {'K', {3, 4}}, {'M', {3, 13}},
                    {'R', {6, 7}}, {'S', {3, 1}},  {'U', {0, 7}},  {'Z', {2, 0}}};
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKMSZ");
    AppPaths.SystemDriveLetter = u"c";  // as the Windows directory may spell it
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKMSZ");
    EXPECT_TRUE(DefaultTargetDrives() == u"EFJKMZ");
    EXPECT_TRUE(BusLabel(u'E') == u"リムーバブル" && BusLabel(u'F') == u"USB");
    const std::pair<std::uint32_t, std::u16string> labels[] = {
        {1, u"SCSI"}, {3, u"ATA"},  {4, u"IEEE1394"}, {7, u"USB"},  {8, u"RAID"}, {11, u"SATA"},
        {12, u"SD"},  {13, u"MMC"}, {17, u"NVMe"},    {0, u"内蔵"}, {2, u"内蔵"}};
    for (const auto& [bus, label] : labels)
        EXPECT_TRUE(LabelForBus(bus) == label) << bus;
}

TEST_F(World, StartupShieldsTheDrivesAndNeverWritesOverAFileItCouldNotRead) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const std::string user = "\xEF\xBB\xBF" + std::string("Enabled=0\nIntervalSec=60\nDrives=Fe");
    const std::tuple<fake::Fault, bool, bool> cases[] = {
        // a fault, whether start-up saves, whether it takes the user's values (or else the defaults)
        {fake::Failing("CreateMutexW", 1, 183), false, false},       // another instance runs
        {fake::Failing("CreateMutexW", 1, 5), false, false},         // ... started as administrator
        {{}, true, true},                                            // read whole
        {fake::Failing("CreateFileW", 1, 32), true, true},           // held by another program a moment
        {fake::Failing("CreateFileW", 1, 2), true, false},           // no file
        {fake::Failing("CreateFileW", 1, 3), true, false},           // no folder
        {fake::Failing("ReadFile", 1, 23), false, false},            // a device error part-way
        {fake::Failing("CreateFileW", 1, 5), false, false},          // access denied
        {fake::Failing("CreateFileW", 1, 32, true), false, false}};  // held by another program throughout
    // Before anything loads a DLL, a planted one is out of reach; before any drive is touched, no error
    // box for an empty card reader and no current directory on a target. Another instance: nothing more.
    const std::vector<std::string> first = {"SetDefaultDllDirectories 2048",
                                            "CreateMutexW Kestrun_SingleInstance_Mutex", "SetErrorMode 1",
                                            "SetCurrentDirectoryW C:\\Windows\\System32"};
    for (const auto& [fault, saves, takes] : cases) {
        TearDown(), fake::Reset();
        fake::Drives = {{'C', {}}, {'E', {2}}}, fake::Files = {{config, {user}}}, fake::Faults = {fault};
        fake::ModulePath = u"C:\\" + std::u16string(300, u'k') + u"\\Kestrun.exe";  // longer than MAX_PATH
        const bool another = fault.Call == "CreateMutexW";
        ASSERT_NE(StartKestrun(nullptr), another);
        EXPECT_EQ(std::vector(fake::Calls.begin(), fake::Calls.begin() + (another ? 2 : 4)),
                  std::vector(first.begin(), first.begin() + (another ? 2 : 4)));
        if (another)
            platform::InitializeCriticalSection(&SettingsLock);  // start-up gave up before making it
        EXPECT_EQ(fake::Files[config].Bytes != user, saves) << fault.Call << fault.Error;
        EXPECT_TRUE(takes ? Settings.Enabled == 0 && Settings.IntervalSec == 60 && SnapshotTargetDrives() == u"Fe"
                          : Settings.Enabled == 1 && Settings.IntervalSec == 30 &&
                                (another || SnapshotTargetDrives() == u"E"))
            << fault.Call << fault.Error;
        EXPECT_TRUE(another || AppPaths.ProgramPath == fake::ModulePath);
    }
}

TEST_F(World, TrayIconIsTriedAgainUntilTheShellHasIt) {
    using Lines = std::vector<std::string>;
    const std::string add = "Shell_NotifyIconW add", modify = "Shell_NotifyIconW modify";
    // The shell is busy, so a timer tries again; or it timed out but took the icon.
    for (const auto& [failing, calls] : {std::pair(2, Lines{add, modify, "SetTimer", add, "KillTimer", modify}),
                                         std::pair(1, Lines{add, modify, modify})}) {
        fake::Faults = {fake::Failing("Shell_NotifyIconW", 1), fake::Failing("Shell_NotifyIconW", failing)};
        fake::Calls.clear();
        if (!AddTrayIcon())
            AddTrayIcon();  // as the timer does
        EXPECT_EQ(fake::Calls, calls);
    }
}
