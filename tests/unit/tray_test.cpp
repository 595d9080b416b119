#include <algorithm>
#include <regex>

#include "settings/settings.h"
#include "tests/unit/world.h"
#include "tray/tray.h"

using Lines = std::vector<std::string>;

// Off, an interval from a hand-edited file, a lower-case target: only start with Windows is checked.
TEST(Menu, ChecksFollowTheState) {
    const std::vector<MenuItem> items = TrayMenuItems(0, 45, u"F", {u"USB"}, u"f", true);
    Lines checked;
    for (const MenuItem& item : items)
        if (item.Checked)
            checked.push_back(fake::Utf8(item.Text));
    EXPECT_EQ(fake::Utf8(items[0].Text), "停止中（クリックで開始）");
    EXPECT_EQ(checked, Lines{"Windows起動時に自動開始"});
}

// The calls whose effect the user sees, and any that touches a target's files, in order.
TEST_F(World, EveryWindowInputDoesWhatTheUserAskedForInOrder) {
    const std::regex seen(
        R"((MoveFileExW|Shell_NotifyIconW|SetEvent|MessageBoxW|DestroyWindow|PostQuitMessage|SetTimer|KillTimer|)"
        R"(SetForegroundWindow|TrackPopupMenu|PostMessageW|DestroyMenu|DefWindowProcW|\w+ E:\\.)[\s\S]*)");
    const std::string save = "MoveFileExW C:\\K\\config.ini 9", tip = "Shell_NotifyIconW modify", wake = "SetEvent";
    const std::string add = "Shell_NotifyIconW add", same = "1 30 EFE|Kestrun - ON (30s)";
    const std::uint32_t command = platform::WmCommand, tray = TrayCallbackMessage;
    const Lines menu = {"SetForegroundWindow", "TrackPopupMenu 34 640 400", "PostMessageW 0", "DestroyMenu"};
    const fake::Fault busy = {"Shell_NotifyIconW", 1};  // at logon: the shell is busy, or timed out but took the icon
    TaskbarCreatedMessage = 0xC0DE;
    // the message, wParam, lParam, faults from the start; the calls seen; then Enabled, IntervalSec, TargetDrives |
    // the tooltip
    using Faults = std::vector<fake::Fault>;
    const std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, Faults, Lines, std::string> cases[] = {
        {command, 100, 0, {}, {save, tip, wake}, "0 30 EFE|Kestrun - OFF (30s)"},
        {command, 0x50064, 0, {}, {save, tip, wake}, "0 30 EFE|Kestrun - OFF (30s)"},  // the high word is ignored
        {tray, 0, 0x203, {}, {save, tip, wake}, "0 30 EFE|Kestrun - OFF (30s)"},       // a double-click
        {command, 200, 0, {}, {save, tip, wake}, "1 15 EFE|Kestrun - ON (15s)"},
        {command, 203, 0, {}, {save, tip, wake}, "1 120 EFE|Kestrun - ON (120s)"},
        {command, 325, 0, {}, {save, wake}, "1 30 EFEZ|Kestrun - ON (30s)"},
        {command, 304, 0, {}, {save, wake}, "1 30 FE|Kestrun - ON (30s)"},  // the first E goes; no file touched here
        {command, 305, 0, {}, {save, wake}, "1 30 EE|Kestrun - ON (30s)"},
        {command, 102, 0, {}, {"MessageBoxW Kestrun 64"}, same},
        {command, 103, 0, {}, {"DestroyWindow"}, same},
        {platform::WmDestroy, 0, 0, {}, {"Shell_NotifyIconW delete", "PostQuitMessage"}, "1 30 EFE|"},
        {tray, 0, 0x205, {}, menu, same},
        {tray, 0, 0x7B, {}, menu, same},
        {tray, 0, 0x202, {}, {}, same},  // a single click
        {command, 204, 0, {}, {}, same},
        {command, 101, 0, {}, {}, same},  // start with Windows: the registry alone
        {command, 326, 0, {}, {}, same},
        {0x1234, 0, 0, {}, {"DefWindowProcW"}, same},
        {0xC0DE, 0, 0, {busy}, {add, tip}, same},  // Explorer restarted
        {platform::WmTimer, TrayIconTimer, 0, {busy, {"Shell_NotifyIconW", 2}}, {add, "KillTimer", tip}, same},
    };
    for (const auto& [message, wParam, lParam, faults, calls, state] : cases) {
        TearDown();
        SetUp();
        fake::Drives = {{'C', {3, 11}}, {'E', {2}}, {'F', {3, 7}}, {'Z', {3, 11}}};
        ReplaceTargetDrives(u"EFE");  // a letter repeated by a hand-edited file
        WindowHandle = &fake::Icon;
        fake::Faults = faults;
        AddTrayIcon();
        fake::Faults.clear();
        const std::string name = std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam);
        fake::Calls.clear();
        EXPECT_EQ(TrayWndProc(WindowHandle, message, wParam, lParam), message == 0x1234 ? 0x1234 : 0) << name;
        std::erase_if(fake::Calls, [&](const std::string& call) { return !std::regex_match(call, seen); });
        EXPECT_EQ(fake::Calls, calls) << name;
        EXPECT_EQ(State() + "|" + fake::Utf8(fake::Icon.Shown ? fake::Icon.Tip : u""), state) << name;
        EXPECT_TRUE(!fake::Icon.Shown || fake::Icon.Callback == TrayCallbackMessage) << "clicks reach the window";
        if (std::count(calls.begin(), calls.end(), save))
            EXPECT_EQ(fake::Files[AppPaths.SettingsFilePath].Bytes,
                      FormatSettingsFile(Settings.Enabled, Settings.IntervalSec, SnapshotTargetDrives()));
        // Each item in its menu (1 the menu, 2 and 3 its submenus): check mark (or - separator, > submenu), command.
        if (lParam == platform::WmRButtonUp)
            EXPECT_EQ(fake::Menu,
                      (Lines{"1 x100 稼働中（クリックで停止）", "1 -0 ", "2 x304 E:  (リムーバブル)",
                             "2 x305 F:  (USB)", "2  325 Z:  (SATA)", "1 >2 対象ドライブ", "3  200 15 秒ごと",
                             "3 x201 30 秒ごと", "3  202 60 秒ごと", "3  203 120 秒ごと", "1 >3 間隔",
                             "1  101 Windows起動時に自動開始", "1 -0 ", "1  102 Kestrun について", "1  103 終了"}));
    }
}

TEST(Autostart, RegistersOnlyACommandWindowsRuns) {
    const std::u16string fits = u"C:\\" + std::u16string(243, u'k') + u"\\Kestrun.exe", tooLong = fits + u"x";
    const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
        // the program's path, its short form, the Run value's command (empty: none is registered)
        {fits, u"", u"\"" + fits + u"\""},  // 258 units and the quotes
        {tooLong, u"C:\\KKKKKK~1\\Kestrun.exe", u"\"C:\\KKKKKK~1\\Kestrun.exe\""},
        {tooLong, u"", u""},
        {tooLong, tooLong, u""}};  // a volume without short names gives the long path back
    for (const auto& [path, shortPath, command] : cases)
        EXPECT_TRUE(RunCommandLine(path, shortPath) == command) << path.size();
    // Task Manager switches an entry off by an odd first byte under StartupApproved.
    const std::pair<std::string, bool> switches[] = {{"", false}, {"\x02", false}, {"\x01", true}, {"\x06", false}};
    for (const auto& [value, disabled] : switches)
        EXPECT_EQ(IsStartupDisabled(value), disabled) << int(value[0]);
}
