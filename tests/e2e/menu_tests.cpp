// The program's own menu code on the real Win32 layer, read back while the
// menu is open: another process cannot read a popup menu's items under Wine,
// so this runs in-process, from a timer that fires inside the menu's loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "tray/tray.h"

namespace {

struct Item {
    UINT type = 0, state = 0, id = 0;
    std::wstring text;
    std::vector<Item> submenu;
};

std::vector<Item> Captured;
bool Seen = false;

std::vector<Item> ReadMenu(HMENU menu) {
    std::vector<Item> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = 127;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        Item item{info.fType, info.fState, info.wID, text, {}};
        if (info.hSubMenu != nullptr)
            item.submenu = ReadMenu(info.hSubMenu);
        items.push_back(item);
    }
    return items;
}

void CALLBACK ReadOpenMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND window = FindWindowW(L"#32768", nullptr);
    if (window == nullptr)
        return;
    KillTimer(nullptr, timer);
    Captured = ReadMenu(reinterpret_cast<HMENU>(SendMessageW(window, 0x01E1 /* MN_GETHMENU */, 0, 0)));
    Seen = true;
    EndMenu();
}

}  // namespace

TEST(TrayMenuOnWindows, ShowsEveryItemAsSpecified) {
    platform::InitializeCriticalSection(&SettingsLock);
    AppPaths.SystemDriveLetter = u"C";
    ReplaceTargetDrives(u"E");
    SetIntervalSec(60);
    platform::WindowClass windowClass;
    windowClass.Procedure = TrayWndProc;
    windowClass.Instance = GetModuleHandleW(nullptr);
    windowClass.ClassName = u"KestrunWnd";
    platform::RegisterClassW(windowClass);
    WindowHandle = platform::CreateWindowExW(0, u"KestrunWnd", u"Kestrun", 0, 0, 0, 0, 0, nullptr, nullptr,
                                             windowClass.Instance);
    ASSERT_NE(WindowHandle, nullptr);
    SetTimer(nullptr, 0, 200, ReadOpenMenu);
    ShowTrayMenu();
    ASSERT_TRUE(Seen) << "the menu was shown and read";

    ASSERT_EQ(Captured.size(), 8u);
    EXPECT_EQ(Captured[0].text, L"稼働中（クリックで停止）");
    EXPECT_EQ(Captured[0].id, 100u);
    EXPECT_TRUE(Captured[0].state & MFS_CHECKED);
    EXPECT_TRUE(Captured[1].type & MFT_SEPARATOR);
    EXPECT_EQ(Captured[2].text, L"対象ドライブ");
    ASSERT_EQ(Captured[2].submenu.size(), 2u) << "C: is the Windows drive and G: a CD-ROM";
    EXPECT_EQ(Captured[2].submenu[0].text, L"E:  (リムーバブル)");
    EXPECT_EQ(Captured[2].submenu[0].id, 304u);
    EXPECT_TRUE(Captured[2].submenu[0].state & MFS_CHECKED);
    EXPECT_EQ(Captured[2].submenu[1].text, L"F:  (SCSI)");
    EXPECT_EQ(Captured[2].submenu[1].id, 305u);
    EXPECT_FALSE(Captured[2].submenu[1].state & MFS_CHECKED);
    EXPECT_EQ(Captured[3].text, L"間隔");
    const wchar_t* intervals[] = {L"15 秒ごと", L"30 秒ごと", L"60 秒ごと", L"120 秒ごと"};
    ASSERT_EQ(Captured[3].submenu.size(), 4u);
    for (UINT i = 0; i < 4; ++i) {
        EXPECT_EQ(Captured[3].submenu[i].text, intervals[i]);
        EXPECT_EQ(Captured[3].submenu[i].id, 200 + i);
        EXPECT_EQ((Captured[3].submenu[i].state & MFS_CHECKED) != 0, i == 2);
    }
    EXPECT_EQ(Captured[4].text, L"Windows起動時に自動開始");
    EXPECT_EQ(Captured[4].id, 101u);
    EXPECT_FALSE(Captured[4].state & MFS_CHECKED);
    EXPECT_TRUE(Captured[5].type & MFT_SEPARATOR);
    EXPECT_EQ(Captured[6].text, L"Kestrun について");
    EXPECT_EQ(Captured[6].id, 102u);
    EXPECT_EQ(Captured[7].text, L"終了");
    EXPECT_EQ(Captured[7].id, 103u);
    DestroyWindow(static_cast<HWND>(WindowHandle));
}
