#include <regex>

#include "tests/unit/world.h"
#include "tray/tray.h"

using Lines = std::vector<std::string>;

// Every choice with its check mark, at the cursor, closed as the shell needs.
TEST_F(World, MenuShowsEveryChoiceWhereTheUserClicked) {
    const std::regex shell("SetForegroundWindow|TrackPopupMenu.*|PostMessageW.*|DestroyMenu");
    fake::Drives = {{'C', {3, 11}}, {'E', {2}}, {'F', {3, 7}}, {'Z', {3, 11}}};
    ReplaceTargetDrives(u"EF");
    TrayWndProc(nullptr, TrayCallbackMessage, 0, platform::WmRButtonUp);
    // Each item in its menu (1 the menu, 2 and 3 its submenus): check mark (or - separator, > submenu), command.
    EXPECT_EQ(fake::Menu,
              (std::vector<std::u16string>{u"1 x100 稼働中（クリックで停止）", u"1 -0 ", u"2 x304 E:  (リムーバブル)",
                                           u"2 x305 F:  (USB)", u"2  325 Z:  (SATA)", u"1 >2 対象ドライブ",
                                           u"3  200 15 秒ごと", u"3 x201 30 秒ごと", u"3  202 60 秒ごと",
                                           u"3  203 120 秒ごと", u"1 >3 間隔", u"1  101 Windows起動時に自動開始",
                                           u"1 -0 ", u"1  102 Kestrun について", u"1  103 終了"}));
    std::erase_if(fake::Calls, [&](const std::string& call) { return !std::regex_match(call, shell); });
    EXPECT_EQ(fake::Calls,
              (Lines{"SetForegroundWindow", "TrackPopupMenu 34 640 400", "PostMessageW 0", "DestroyMenu"}));
}
