#include "settings/settings.h"
#include "tests/unit/support.h"
#include "tray/tray.h"

namespace {

const std::u16string RunKey = u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::u16string SettingsPath = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";

class Tray : public FakeWorld {
protected:
    void SetUp() override {
        FakeWorld::SetUp();
        TrayIcon = platform::NotifyIconData{};
        fake::AddDrive('C', fake::Drive{platform::DriveFixed, 17, false, false});
        fake::AddDrive('E', Removable());
        fake::AddDrive('F', fake::Drive{platform::DriveFixed, 7, false, false});
        fake::AddDrive('G', fake::Drive{platform::DriveCdrom, 0, false, false});
        fake::AddDrive('H', fake::Drive{platform::DriveFixed, 11, false, false});
        for (const char16_t* dir : {u"C:\\Users", u"C:\\Users\\Tester", u"C:\\Users\\Tester\\AppData",
                                    u"C:\\Users\\Tester\\AppData\\Roaming", u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun"})
            fake::PutDirectory(dir);
        fake::PutRegistryKey(RunKey);
        AppPaths.SystemDriveLetter = u"C";
        AppPaths.SettingsFilePath = SettingsPath;
        AppPaths.ProgramPath = u"C:\\Tools\\Kestrun.exe";
        platform::WindowClass windowClass;
        windowClass.Procedure = TrayWndProc;
        windowClass.ClassName = u"KestrunWnd";
        platform::RegisterClassW(windowClass);
        WindowHandle = platform::CreateWindowExW(0, u"KestrunWnd", u"Kestrun", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
        TaskbarCreatedMessage = platform::RegisterWindowMessageW(u"TaskbarCreated");
        AddTrayIcon();
        UpdateTrayTip();
        fake::ClearCalls();
    }

    static std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0) {
        return TrayWndProc(WindowHandle, message, wParam, lParam);
    }
    static std::intptr_t Command(std::uintptr_t id) { return Send(platform::WmCommand, id); }
    static std::vector<fake::MenuEntry> OpenMenu() {
        Send(TrayCallbackMessage, 0, platform::WmRButtonUp);
        const auto shown = fake::ShownMenus();
        return shown.empty() ? std::vector<fake::MenuEntry>{} : shown.back();
    }
    static int Saves() { return fake::CountCalls("MoveFileExW"); }
    static int TipUpdates() {
        int n = 0;
        for (const auto& note : fake::Notifications())
            n += note.Message == platform::NimModify;
        return n;
    }
    static std::u16string Tip() { return fake::Notifications().back().Tip; }
};

}  // namespace

TEST(TrayTexts, TooltipShowsStateAndInterval) {
    const std::tuple<std::int32_t, std::int32_t, const char16_t*> cases[] = {
        {1, 30, u"Kestrun - ON (30s)"}, {0, 30, u"Kestrun - OFF (30s)"}, {0, 120, u"Kestrun - OFF (120s)"},
        {1, 45, u"Kestrun - ON (45s)"}, {0, 3600, u"Kestrun - OFF (3600s)"}, {5, 5, u"Kestrun - ON (5s)"}};
    for (const auto& [enabled, interval, text] : cases)
        EXPECT_EQ(TrayTipText(enabled, interval), text);
}

TEST(TrayTexts, AboutBoxHasSevenLines) {
    const std::u16string text = AboutText();
    EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'), 6);
    EXPECT_EQ(text.substr(0, 13), u"Kestrun 0.1\n\n");
    EXPECT_NE(text.find(u"\n対象ドライブを定期的に「無害な非バッファ読み取り」して眠らせません。\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"\n書き込みゼロ（ディスク寿命に無害）・管理者権限不要。\n\n"), std::u16string::npos);
    EXPECT_NE(text.back(), u'\n');
}

TEST_F(Tray, MenuShowsTheLiveState) {
    ReplaceTargetDrives(u"eFQ");  // lower-case e checks nothing; Q is not present
    SetEnabled(0);
    SetIntervalSec(45);
    SetAutostartRegistered(true);
    const auto menu = OpenMenu();
    ASSERT_EQ(menu.size(), 8u);
    EXPECT_EQ(menu[0].Text, u"停止中（クリックで開始）");
    EXPECT_EQ(menu[0].Id, 100u);
    EXPECT_EQ(menu[0].Flags, platform::MfString);
    EXPECT_EQ(menu[1].Flags, platform::MfSeparator);
    EXPECT_EQ(menu[2].Text, u"対象ドライブ");
    EXPECT_EQ(menu[2].Flags, platform::MfPopup);
    const std::vector<std::tuple<std::u16string, std::uintptr_t, std::uint32_t>> drives = {
        {u"E:  (リムーバブル)", 304, platform::MfString},
        {u"F:  (USB)", 305, platform::MfChecked},
        {u"H:  (SATA)", 307, platform::MfString}};
    ASSERT_EQ(menu[2].Submenu.size(), drives.size());
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(menu[2].Submenu[i].Text, std::get<0>(drives[i]));
        EXPECT_EQ(menu[2].Submenu[i].Id, std::get<1>(drives[i]));
        EXPECT_EQ(menu[2].Submenu[i].Flags, std::get<2>(drives[i]));
    }
    EXPECT_EQ(menu[3].Text, u"間隔");
    ASSERT_EQ(menu[3].Submenu.size(), 4u);
    const char16_t* intervals[] = {u"15 秒ごと", u"30 秒ごと", u"60 秒ごと", u"120 秒ごと"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(menu[3].Submenu[i].Text, intervals[i]);
        EXPECT_EQ(menu[3].Submenu[i].Id, 200 + i);
        EXPECT_EQ(menu[3].Submenu[i].Flags, platform::MfString) << "45 is no choice, so nothing is checked";
    }
    EXPECT_EQ(menu[4].Text, u"Windows起動時に自動開始");
    EXPECT_EQ(menu[4].Id, 101u);
    EXPECT_EQ(menu[4].Flags, platform::MfChecked);
    EXPECT_EQ(menu[5].Flags, platform::MfSeparator);
    EXPECT_EQ(menu[6].Text, u"Kestrun について");
    EXPECT_EQ(menu[6].Id, 102u);
    EXPECT_EQ(menu[7].Text, u"終了");
    EXPECT_EQ(menu[7].Id, 103u);
}

TEST_F(Tray, MenuChecksFollowTheSettings) {
    struct Case {
        std::int32_t enabled, interval;
        const char16_t* firstText;
        std::uint32_t firstFlags;
        int checkedInterval;  // -1: none
    } cases[] = {
        {1, 30, u"稼働中（クリックで停止）", platform::MfChecked, 1},
        {1, 120, u"稼働中（クリックで停止）", platform::MfChecked, 3},
        {0, 15, u"停止中（クリックで開始）", platform::MfString, 0},
        {1, 5, u"稼働中（クリックで停止）", platform::MfChecked, -1},
    };
    for (const Case& c : cases) {
        SetEnabled(c.enabled);
        SetIntervalSec(c.interval);
        const auto menu = OpenMenu();
        EXPECT_EQ(menu[0].Text, c.firstText);
        EXPECT_EQ(menu[0].Flags, c.firstFlags);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(menu[3].Submenu[i].Flags == platform::MfChecked, i == c.checkedInterval) << c.interval;
        EXPECT_EQ(menu[4].Flags, platform::MfString) << "not registered";
    }
}

TEST_F(Tray, MenuIsShownOwnedAndDestroyed) {
    fake::RemoveDrive('E');
    fake::RemoveDrive('F');
    fake::RemoveDrive('H');
    const auto menu = OpenMenu();
    EXPECT_TRUE(menu[2].Submenu.empty()) << "the drive submenu stays, empty";
    EXPECT_EQ(fake::LiveMenus(), 0);
    std::vector<std::string> order;
    for (const auto& call : fake::Calls())
        if (call.Name == "GetCursorPos" || call.Name == "SetForegroundWindow" || call.Name == "TrackPopupMenu" ||
            call.Name == "PostMessageW" || call.Name == "DestroyMenu")
            order.push_back(call.Name);
    EXPECT_EQ(order, (std::vector<std::string>{"GetCursorPos", "SetForegroundWindow", "TrackPopupMenu", "PostMessageW",
                                               "DestroyMenu"}));
    EXPECT_EQ(fake::PostedMessages().back(), platform::WmNull);
}

TEST_F(Tray, CommandsSaveTipAndWakeAsTheyShould) {
    struct Case {
        std::uintptr_t wParam;
        int saves, tips, wakes;
    } cases[] = {
        {100, 1, 1, 1}, {(7u << 16) | 100, 1, 1, 1}, {101, 0, 0, 0}, {200, 1, 1, 1}, {201, 1, 1, 1},
        {203, 1, 1, 1}, {304, 1, 0, 1}, {325, 1, 0, 1}, {300, 1, 0, 1},
        {104, 0, 0, 0}, {199, 0, 0, 0}, {204, 0, 0, 0}, {299, 0, 0, 0}, {326, 0, 0, 0}, {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        fake::ClearCalls();
        const int tipsBefore = TipUpdates();
        EXPECT_EQ(Command(c.wParam), 0);
        EXPECT_EQ(Saves(), c.saves) << c.wParam;
        EXPECT_EQ(TipUpdates() - tipsBefore, c.tips) << c.wParam;
        EXPECT_EQ(fake::CountCalls("SetEvent"), c.wakes) << c.wParam;
        EXPECT_EQ(fake::CountCalls("DefWindowProcW"), 0) << c.wParam;
    }
}

TEST_F(Tray, OnOffIntervalAndTooltip) {
    Command(100);
    EXPECT_EQ(Settings.Enabled.load(), 0);
    EXPECT_EQ(Tip(), u"Kestrun - OFF (30s)");
    EXPECT_EQ(fake::GetFile(SettingsPath).Bytes, FormatSettingsFile(0, 30, u""));
    Command(203);
    EXPECT_EQ(Tip(), u"Kestrun - OFF (120s)");
    Send(TrayCallbackMessage, 0, platform::WmLButtonDblClk);
    EXPECT_EQ(Tip(), u"Kestrun - ON (120s)");
    EXPECT_EQ(fake::GetFile(SettingsPath).Bytes, FormatSettingsFile(1, 120, u""));
    Command(201);  // the interval already set still saves and wakes
    EXPECT_EQ(Settings.IntervalSec.load(), 30);
}

TEST_F(Tray, DriveCommandsToggleAndRemoveMarkers) {
    ReplaceTargetDrives(u"EF");
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    Command(304);
    EXPECT_EQ(SnapshotTargetDrives(), u"F");
    EXPECT_FALSE(fake::HasFile(u"E:\\.kestrun.dat"));
    EXPECT_EQ(fake::GetFile(SettingsPath).Bytes, FormatSettingsFile(1, 30, u"F"));
    fake::ClearCalls();
    Command(304);
    EXPECT_EQ(SnapshotTargetDrives(), u"FE");
    EXPECT_EQ(fake::CountCalls("DeleteFileW", "E:"), 0) << "adding deletes nothing";
    EXPECT_EQ(fake::CountCalls("CreateFileW", "E:"), 0) << "and creates nothing: the worker does";

    ReplaceTargetDrives(u"EFE");
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    Command(304);
    EXPECT_EQ(SnapshotTargetDrives(), u"FE");
    EXPECT_FALSE(fake::HasFile(u"E:\\.kestrun.dat")) << "deleted all the same";
}

TEST_F(Tray, MouseMessagesOnTheIcon) {
    const std::pair<std::intptr_t, int> cases[] = {
        {0x0200, 0}, {0x0201, 0}, {0x0202, 0}, {0x0204, 0}, {platform::WmRButtonUp, 1}, {platform::WmContextMenu, 1}};
    for (const auto& [mouse, menus] : cases) {
        const std::size_t before = fake::ShownMenus().size();
        EXPECT_EQ(Send(TrayCallbackMessage, 0, mouse), 0);
        EXPECT_EQ(static_cast<int>(fake::ShownMenus().size() - before), menus) << mouse;
        EXPECT_EQ(Settings.Enabled.load(), 1) << mouse;
    }
}

TEST_F(Tray, AutostartCommandTogglesTheRegistryOnly) {
    Command(101);
    EXPECT_TRUE(IsAutostartRegistered());
    Command(101);
    EXPECT_FALSE(IsAutostartRegistered());
    EXPECT_FALSE(fake::HasFile(SettingsPath));
}

TEST_F(Tray, AboutBoxAndOtherMessages) {
    Command(102);
    const auto boxes = fake::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, u"Kestrun");
    EXPECT_EQ(boxes[0].Text, AboutText());
    EXPECT_EQ(boxes[0].Type, 64u);
    Send(0x0113, 1, 2);  // anything else goes to the default procedure
    EXPECT_EQ(fake::CountCalls("DefWindowProcW"), 1);
}

TEST_F(Tray, IconComesBackWhenTheTaskbarIsRecreated) {
    SetEnabled(0);
    SetIntervalSec(45);
    Send(TaskbarCreatedMessage);
    const auto notes = fake::Notifications();
    ASSERT_GE(notes.size(), 2u);
    EXPECT_EQ(notes[notes.size() - 2].Message, platform::NimAdd);
    EXPECT_EQ(notes[notes.size() - 2].Flags, platform::NifMessage | platform::NifIcon | platform::NifTip);
    EXPECT_EQ(notes.back().Message, platform::NimModify);
    EXPECT_EQ(notes.back().Tip, u"Kestrun - OFF (45s)");
    EXPECT_EQ(fake::CountCalls("LoadImageW"), 0) << "the icon handle is reused";
}

TEST_F(Tray, DestroyRemovesTheIconThenQuits) {
    Command(103);
    const auto notes = fake::Notifications();
    EXPECT_EQ(notes.back().Message, platform::NimDelete);
    EXPECT_EQ(notes.back().Flags, platform::NifTip);
    EXPECT_EQ(fake::PostedMessages().back(), 0x0012u);
    EXPECT_EQ(fake::WindowOf(u"KestrunWnd"), nullptr);
}

TEST_F(Tray, StockIconWhenTheResourceCannotBeLoaded) {
    TrayIcon = platform::NotifyIconData{};
    fake::FailCall("LoadImageW", 1);
    AddTrayIcon();
    EXPECT_EQ(fake::Notifications().back().Icon, reinterpret_cast<void*>(0x7000 + platform::IdiInformation));
    EXPECT_EQ(fake::Notifications().back().Tip, u"Kestrun");
}
