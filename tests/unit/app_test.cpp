#include <thread>

#include "app/main.h"
#include "drives/drives.h"
#include "settings/settings.h"
#include "tests/unit/world.h"
#include "tray/tray.h"

TEST_F(World, ToggleAppendsAtTheEndAndDropsTheFirstOccurrence) {
    const std::tuple<std::u16string, char16_t, std::u16string, bool> cases[] = {
        {u"", u'E', u"E", true}, {u"FE", u'G', u"FEG", true}, {u"EFE", u'E', u"FE", false}, {u"E", u'e', u"Ee", true}};
    for (const auto& [before, letter, after, added] : cases) {
        ReplaceTargetDrives(before);
        EXPECT_EQ(ToggleTargetDrive(letter), added);
        EXPECT_TRUE(SnapshotTargetDrives() == after);
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
    fake::Drives = {{'C', {3, 7}},  {'D', {3, 11}}, {'E', {2, 0}}, {'F', {3, 7}},  {'G', {5, 7}}, {'H', {4, 7}},
                    {'I', {3, 17}}, {'J', {3, 12}}, {'K', {3, 4}}, {'M', {3, 13}}, {'R', {6, 7}}, {'S', {3, 1}}};
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKMS");
    AppPaths.SystemDriveLetter = u"c";  // as the Windows directory may spell it
    EXPECT_TRUE(ListCandidateDrives() == u"DEFIJKMS");
    EXPECT_TRUE(DefaultTargetDrives() == u"EFJKM");
    EXPECT_TRUE(BusLabel(u'E') == u"リムーバブル" && BusLabel(u'F') == u"USB");
    const std::pair<std::uint32_t, std::u16string> labels[] = {
        {1, u"SCSI"}, {3, u"ATA"},  {4, u"IEEE1394"}, {7, u"USB"},  {8, u"RAID"}, {11, u"SATA"},
        {12, u"SD"},  {13, u"MMC"}, {17, u"NVMe"},    {0, u"内蔵"}, {2, u"内蔵"}};
    for (const auto& [bus, label] : labels)
        EXPECT_TRUE(LabelForBus(bus) == label) << bus;
}

TEST(Texts, UserVisibleTextsByteForByte) {
    EXPECT_TRUE(TrayTipText(1, 30) == u"Kestrun - ON (30s)" && TrayTipText(0, 3600) == u"Kestrun - OFF (3600s)");
    EXPECT_TRUE(OnOffItemText(1) == u"稼働中（クリックで停止）" && OnOffItemText(0) == u"停止中（クリックで開始）");
    EXPECT_TRUE(DriveItemText(u'E', u"USB") == u"E:  (USB)" && IntervalItemText(120) == u"120 秒ごと");
    EXPECT_TRUE(AboutText() ==
                u"Kestrun 0.1\n\n外付けHDDなどが省電力で眠り、開くたびにスピンアップ待ちでもたつく問題を防ぎます。\n"
                u"対象ドライブを定期的に「無害な非バッファ読み取り」して眠らせません。\n"
                u"書き込みゼロ（ディスク寿命に無害）・管理者権限不要。\n\n"
                u"The Kestrun project - free to use, provided without any warranty.");
}

TEST_F(World, StartupSeesAnyOtherInstance) {
    for (const std::uint32_t error : {183u, 5u}) {  // exists; access denied to an elevated instance's mutex
        fake::Reset(), fake::MutexError = error;
        EXPECT_FALSE(StartKestrun(nullptr));
        EXPECT_EQ(fake::Calls, std::vector<std::string>{"CreateMutexW Kestrun_SingleInstance_Mutex"}) << error;
    }
    platform::InitializeCriticalSection(&SettingsLock);
}

TEST_F(World, StartupShieldsTheDrivesAndNeverWritesOverAFileItCouldNotRead) {
    const std::u16string config = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
    const std::tuple<fake::Fault, bool, std::int32_t> cases[] = {
        // a fault, whether start-up saves, the interval it takes
        {{}, true, 60},                                          // read whole
        {fake::Failing("CreateFileW", 1, 32), true, 60},         // held by another program a moment
        {fake::Failing("CreateFileW", 1, 2), true, 30},          // no file
        {fake::Failing("CreateFileW", 1, 3), true, 30},          // no folder
        {fake::Failing("ReadFile", 1, 23), false, 30},           // a device error part-way
        {fake::Failing("CreateFileW", 1, 5), false, 30},         // access denied
        {fake::Failing("CreateFileW", 1, 32, true), false, 30},  // held by another program throughout
        {fake::Failing("CreateFileW", 1, 53), false, 30}};       // a network folder offline at logon
    for (const auto& [fault, saves, interval] : cases) {
        TearDown(), fake::Reset();
        fake::Drives = {{'C', {}}}, fake::Files = {{config, {"\xEF\xBB\xBFIntervalSec=60"}}}, fake::Faults = {fault};
        fake::ModulePath = u"C:\\" + std::u16string(300, u'k') + u"\\Kestrun.exe";  // longer than MAX_PATH
        ASSERT_TRUE(StartKestrun(nullptr));
        // Before any drive is touched: no error box for an empty card reader, no current directory on a target.
        EXPECT_EQ(std::vector(fake::Calls.begin() + 1, fake::Calls.begin() + 3),
                  (std::vector<std::string>{"SetErrorMode 1", "SetCurrentDirectoryW C:\\Windows\\System32"}));
        EXPECT_NE(fake::Files[config].Bytes == "\xEF\xBB\xBFIntervalSec=60", saves) << fault.Call << fault.Error;
        EXPECT_TRUE(Settings.IntervalSec.load() == interval && AppPaths.ProgramPath == fake::ModulePath);
    }
}

TEST_F(World, TrayIconIsTriedAgainUntilTheShellHasIt) {
    const std::pair<int, std::vector<std::string>> cases[] = {
        // failing calls, then the calls made
        {2,
         {"Shell_NotifyIconW add", "Shell_NotifyIconW modify", "SetTimer", "Shell_NotifyIconW add", "KillTimer",
          "Shell_NotifyIconW modify"}},  // the shell is busy: a timer tries again
        {1, {"Shell_NotifyIconW add", "Shell_NotifyIconW modify", "Shell_NotifyIconW modify"}}};  // it took the icon
    for (const auto& [failing, calls] : cases) {
        fake::Faults = {fake::Failing("Shell_NotifyIconW", 1), fake::Failing("Shell_NotifyIconW", failing)};
        fake::Calls.clear();
        if (!AddTrayIcon())
            AddTrayIcon();  // as the timer does
        EXPECT_EQ(fake::Calls, calls);
    }
}

TEST(Autostart, WindowsSwitchOffIsAnOddFirstByte) {
    const std::pair<std::string, bool> cases[] = {{"", false}, {"\x02", false}, {"\x03", true}, {"\x06", false}};
    for (const auto& [value, disabled] : cases)
        EXPECT_EQ(IsStartupDisabled(value), disabled) << int(value[0]);
}
