// Drives the real Kestrun.exe from outside, as Windows would: window messages,
// the real popup menu, the registry and the files it leaves behind. Each test
// is one scenario; tests/e2e/run.sh runs every scenario in a fresh Wine prefix
// with E: removable, F: fixed and G: a CD-ROM, each mapped to an empty folder.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/driver.h"

#include <shellapi.h>


TEST(Kestrun, FirstStartCreatesSettingsAndTheRemovableDrivesMarker) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 30, "E"); })) << SettingsNow();
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0; })) << "the marker is read";
    EXPECT_EQ(ReadBytes(L"E:\\.kestrun.dat"), std::string(4096, '\0'));
    const DWORD attributes = GetFileAttributesW(L"E:\\.kestrun.dat");
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(Exists(L"F:\\.kestrun.dat"));
    EXPECT_FALSE(Exists(L"G:\\.kestrun.dat"));
    // The window is top-level (so it hears "TaskbarCreated") yet never shown.
    EXPECT_EQ(GetAncestor(k.Window(), GA_PARENT), GetDesktopWindow());
    EXPECT_FALSE(IsWindowVisible(k.Window()));
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Kestrun, SecondStartEndsAtOnceAndTouchesNothing) {
    Kestrun first;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 30, "E"); }));
    Sleep(1100);  // so that a rewrite would show in the modification time
    const std::string bytes = SettingsNow();
    const FILETIME written = WriteTime(SettingsPath());
    Kestrun second;
    second.Start();
    EXPECT_EQ(second.AwaitEnd(10000), 0u);
    EXPECT_EQ(SettingsNow(), bytes);
    EXPECT_TRUE(SameTime(WriteTime(SettingsPath()), written));
    EXPECT_EQ(FindWindowW(L"KestrunWnd", L"Kestrun"), first.Window()) << "the first instance runs on";
    EXPECT_EQ(first.Exit(), 0u);
}

TEST(Kestrun, CommandsChangeSaveAndReachTheDrives) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    // Read, not merely there: while the pass still holds the new file, nobody else may delete it.
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0; }));

    k.Command(305);  // drive F
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "EF"));
    EXPECT_TRUE(WaitFor([] { return MarkerReads('f') > 0; })) << "F's marker is made and read at once";
    k.Command(304);  // drive E, dropped
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "F"));
    EXPECT_FALSE(Exists(L"E:\\.kestrun.dat"));
    EXPECT_EQ(ReadBytes(L"F:\\.kestrun.dat"), std::string(4096, '\0'));

    const std::pair<WPARAM, int> intervals[] = {{200, 15}, {201, 30}, {202, 60}, {203, 120}};
    for (const auto& [id, seconds] : intervals) {
        k.Command(id);
        EXPECT_EQ(SettingsNow(), Canonical(1, seconds, "F")) << id;
    }
    k.Command(100);
    EXPECT_EQ(SettingsNow(), Canonical(0, 120, "F"));
    k.Tray(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 120, "F"); }));

    Sleep(1100);
    const FILETIME written = WriteTime(SettingsPath());
    k.Command(101);
    DWORD type = 0;
    EXPECT_EQ(RunValue(&type), L"\"" + ExePath() + L"\"");
    EXPECT_EQ(type, DWORD(REG_SZ));
    k.Command(101);
    EXPECT_EQ(RunValue(&type), L"<none>");
    for (WPARAM ignored : {104, 199, 204, 299, 326})
        k.Command(ignored);
    EXPECT_TRUE(SameTime(WriteTime(SettingsPath()), written)) << "neither start-with-Windows nor unknown ids save";
    EXPECT_EQ(SettingsNow(), Canonical(1, 120, "F"));

    PostMessageW(k.Window(), WM_COMMAND, 102, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindWindowW(L"#32770", L"Kestrun")) != nullptr; }));
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    const std::wstring about = text;
    EXPECT_EQ(about.substr(0, 13), L"Kestrun 0.1\n\n");
    EXPECT_NE(about.find(L"書き込みゼロ（ディスク寿命に無害）・管理者権限不要。"), std::wstring::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([] { return FindWindowW(L"#32770", L"Kestrun") == nullptr; }));
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Kestrun, RestartRestoresTheSavedState) {
    {
        Kestrun k;
        ASSERT_TRUE(k.Start());
        k.Command(202);
        k.Command(305);
        k.Command(304);
        k.Command(100);
        double seconds = 0;
        EXPECT_EQ(k.Exit(&seconds), 0u);
        std::printf("figure: exit command to process end: %.2f s\n", seconds);
    }
    EXPECT_EQ(SettingsNow(), Canonical(0, 60, "F"));
    const int reads = MarkerReads('f');
    Kestrun again;
    ASSERT_TRUE(again.Start());
    Sleep(500);
    EXPECT_EQ(SettingsNow(), Canonical(0, 60, "F"));
    EXPECT_EQ(MarkerReads('f'), reads) << "switched off: no drive is touched";
    EXPECT_EQ(again.Exit(), 0u);
}

TEST(Kestrun, HandEditedSettingsLoadLenientlyAndAreRewritten) {
    const std::u16string text = u"[Kestrun]\r\njunk line\r\nEnabled = 0\r\nIntervalSec=45\r\nDrives=ef\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    WriteBytes(SettingsPath(), bytes);
    Kestrun k;
    ASSERT_TRUE(k.Start());
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 45, "ef"); })) << SettingsNow();
    EXPECT_TRUE(WaitFor([] { return Exists(L"E:\\.kestrun.dat") && Exists(L"F:\\.kestrun.dat"); }));
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Kestrun, BigEndianSettingsCountAsMissing) {
    WriteBytes(SettingsPath(), std::string("\xFE\xFF\0D\0r\0i\0v\0e\0s\0=\0F", 18));
    Kestrun k;
    ASSERT_TRUE(k.Start());
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 30, "E"); })) << SettingsNow();
    EXPECT_EQ(k.Exit(), 0u);
}

// E:'s marker is a terminal that nobody types into: the pass hangs in it for good.
TEST(Kestrun, HungTargetStillLetsTheProgramEnd) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    // The pass is stuck once the program holds the terminal open for its read.
    std::string held;
    ASSERT_TRUE(WaitFor([&] { return (held = AskOutside("marker-held")).find("held by Kestrun.exe") != std::string::npos ||
                                     held.find("held by wineserver") != std::string::npos; }, 10000))
        << held;
    Sleep(300);
    double seconds = 0;
    EXPECT_EQ(k.Exit(&seconds), 0u);
    std::printf("figure: exit command to process end with a hung target: %.2f s\n", seconds);
    EXPECT_GT(seconds, 2.9) << "the pass really hung, so the wait for the worker ran out";
    EXPECT_LT(seconds, 12.0) << "3 s for the worker, 2 s for Wine's icon removal, and slack";
}

// Keyboard messages to the menu window choose items by position.
TEST(Kestrun, RealMenuPositionsReachTheirCommands) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    ASSERT_TRUE(WaitFor([] { return SettingsNow() == Canonical(1, 30, "E"); }));

    ASSERT_TRUE(ChooseByKeyboard(k, {VK_DOWN, VK_RETURN}));  // 1: on/off
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(0, 30, "E"); })) << SettingsNow();

    ASSERT_TRUE(ChooseByKeyboard(k, {VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}));  // 3: drives, second (F)
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(0, 30, "EF"); })) << SettingsNow();

    ASSERT_TRUE(ChooseByKeyboard(k, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_DOWN, VK_RETURN}));  // 4: 60 s
    EXPECT_TRUE(WaitFor([] { return SettingsNow() == Canonical(0, 60, "EF"); })) << SettingsNow();

    ASSERT_TRUE(ChooseByKeyboard(k, {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}));  // 5: start with Windows
    DWORD type = 0;
    EXPECT_TRUE(WaitFor([&] { return RunValue(&type) == L"\"" + ExePath() + L"\""; }));

    ASSERT_TRUE(ChooseByKeyboard(k, {VK_UP, VK_UP, VK_RETURN}));  // 7: about
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindWindowW(L"#32770", L"Kestrun")) != nullptr; }));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([] { return FindWindowW(L"#32770", L"Kestrun") == nullptr; }));

    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(ChooseByKeyboard(k, {VK_UP, VK_RETURN}));  // 8: exit
    EXPECT_EQ(k.AwaitEnd(20000, asked), 0u);
}

// When Explorer restarts, its notification area is empty and it broadcasts
// "TaskbarCreated". The icon is taken away here as a new shell would have
// lost it (Wine's stand-alone tray window hides when it holds no icon), and
// the program must put it back on the broadcast.
TEST(Kestrun, IconComesBackWhenTheTaskbarIsRecreated) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    HWND tray = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        tray = FindWindowW(nullptr, L"Wine System Tray");
        return tray != nullptr && IsWindowVisible(tray);
    }));
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = k.Window();
    icon.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon)) << "the program's icon is (hWnd, 1)";
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(tray); }));
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(tray); })) << "the icon is back";
    k.Command(201);
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "E"));
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Kestrun, StartUpTimeToTheWindow) {
    const auto start = std::chrono::steady_clock::now();
    Kestrun k;
    ASSERT_TRUE(k.Start());
    const double toWindow = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Wine shows its stand-alone tray window once the first icon is added.
    WaitFor([] {
        HWND tray = FindWindowW(nullptr, L"Wine System Tray");
        return tray != nullptr && IsWindowVisible(tray);
    });
    const double toIcon = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0; }));
    const double toRead = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("figure: start to window %.3f s; to the tray icon shown %.3f s; to the first marker read seen %.3f s\n",
                toWindow, toIcon, toRead);
    const auto before = std::chrono::steady_clock::now();
    const int reads = MarkerReads('f');
    k.Command(305);
    WaitFor([&] { return MarkerReads('f') > reads; }, 10000);
    std::printf("figure: drive command to the marker's first read seen %.3f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count());
    EXPECT_EQ(k.Exit(), 0u);
}
