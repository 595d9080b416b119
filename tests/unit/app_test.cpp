#include <thread>

#include "app/main.h"
#include "drives/drives.h"
#include "settings/settings.h"
#include "tests/unit/world.h"
#include "tray/tray.h"

using Lines = std::vector<std::string>;

// Under ThreadSanitizer: the worker's reads race the main thread's changes.
TEST_F(World, WorkerAndMainThreadShareTheTargetsSafely) {
    ReplaceTargetDrives(u"F");
    std::thread worker([] {
        for (int i = 0; i < 20000; ++i)
            EXPECT_TRUE(SnapshotTargetDrives().starts_with(u"F") && Settings.IntervalSec + IsTargetDrive(u'E') >= 15);
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
    AppPaths.SystemDriveLetter = u"c";  // as the Windows directory may spell it
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKMSZ");
    EXPECT_TRUE(DefaultTargetDrives() == u"EFJKMZ");
    const std::pair<std::uint32_t, std::u16string> labels[] = {
        {1, u"SCSI"}, {3, u"ATA"},  {4, u"IEEE1394"}, {7, u"USB"},  {8, u"RAID"}, {11, u"SATA"},
        {12, u"SD"},  {13, u"MMC"}, {17, u"NVMe"},    {0, u"内蔵"}, {2, u"内蔵"}};
    for (const auto& [bus, label] : labels)
        EXPECT_TRUE(LabelForBus(bus) == label) << bus;
}

TEST_F(World, StartupShieldsTheDrivesAndNeverWritesOverAFileItCouldNotRead) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const std::string user = "\xEF\xBB\xBF" + std::string("Enabled=0\nIntervalSec=60\nDrives=Fe");
    const std::tuple<fake::Fault, bool, std::string> cases[] = {
        // a fault, whether start-up saves, the state it takes: the user's, the defaults, or none
        {fake::Fault{"CreateMutexW", 1, 183}, false, "1 30 "},        // another instance runs
        {fake::Fault{"CreateMutexW", 1, 5}, false, "1 30 "},          // ... started as administrator
        {{}, true, "0 60 Fe"},                                        // read whole
        {fake::Fault{"CreateFileW", 1, 32}, true, "0 60 Fe"},         // held by another program a moment
        {fake::Fault{"CreateFileW", 1, 2}, true, "1 30 E"},           // no file
        {fake::Fault{"CreateFileW", 1, 3}, true, "1 30 E"},           // no folder
        {fake::Fault{"ReadFile", 1, 23}, false, "1 30 E"},            // a device error part-way
        {fake::Fault{"CreateFileW", 1, 5}, false, "1 30 E"},          // access denied
        {fake::Fault{"CreateFileW", 1, 32, true}, false, "1 30 E"}};  // held by another program throughout
    // Before anything loads a DLL, a planted one is out of reach; before any drive is touched, no error
    // box for an empty card reader and no current directory on a target. Another instance: nothing more.
    const std::vector<std::string> first = {"SetDefaultDllDirectories 2048",
                                            "CreateMutexW Kestrun_SingleInstance_Mutex", "SetErrorMode 1",
                                            "SetCurrentDirectoryW C:\\Windows\\System32"};
    for (const auto& [fault, saves, state] : cases) {
        TearDown(), fake::Reset();
        fake::Drives = {{'C', {}}, {'E', {2}}}, fake::Files = {{config, {user}}}, fake::Faults = {fault};
        fake::ModulePath = u"C:\\" + std::u16string(300, u'k') + u"\\Kestrun.exe";  // longer than MAX_PATH
        const std::size_t another = fault.Call == "CreateMutexW", calls = another ? 2 : 4;
        ASSERT_NE(StartKestrun(nullptr), another);
        EXPECT_EQ(std::vector(fake::Calls.begin(), fake::Calls.begin() + calls),
                  Lines(first.begin(), first.begin() + calls));
        if (another)
            platform::InitializeCriticalSection(&SettingsLock);  // start-up gave up before making it
        EXPECT_EQ(fake::Files[config].Bytes != user, saves) << fault.Call << fault.Error;
        EXPECT_EQ(State(), state) << fault.Call << fault.Error;
        EXPECT_TRUE(another || AppPaths.ProgramPath == fake::ModulePath);
    }
}

TEST_F(World, TrayIconIsTriedAgainUntilTheShellHasIt) {
    const std::string add = "Shell_NotifyIconW add", modify = "Shell_NotifyIconW modify";
    // The shell is busy, so a timer tries again; or it timed out but took the icon.
    for (const auto& [failing, calls] : {std::pair(2, Lines{add, modify, "SetTimer", add, "KillTimer", modify}),
                                         std::pair(1, Lines{add, modify, modify})}) {
        fake::Faults = {fake::Fault{"Shell_NotifyIconW", 1}, fake::Fault{"Shell_NotifyIconW", failing}};
        fake::Calls.clear();
        if (!AddTrayIcon())
            AddTrayIcon();  // as the timer does
        EXPECT_EQ(fake::Calls, calls);
    }
}
