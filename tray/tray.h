#pragma once
// The notification-area icon, its context menu and the hidden window's procedure.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

constexpr std::uint32_t TrayCallbackMessage = platform::WmApp + 1;

constexpr std::uint32_t CmdToggleEnabled = 100;
constexpr std::uint32_t CmdToggleAutostart = 101;
constexpr std::uint32_t CmdAbout = 102;
constexpr std::uint32_t CmdExit = 103;
constexpr std::uint32_t CmdIntervalFirst = 200;
constexpr std::uint32_t CmdDriveFirst = 300;
constexpr std::array<std::int32_t, 4> IntervalChoices = {15, 30, 60, 120};
constexpr std::uintptr_t IconResourceId = 101;
constexpr std::uintptr_t TrayIconTimer = 1;
constexpr std::uintptr_t SettingsTimer = 2;

extern platform::NotifyIconData TrayIcon;
extern std::uint32_t TaskbarCreatedMessage;

// Adds the icon and sets its tooltip; when the shell refuses, a timer on the window tries again.
bool AddTrayIcon();
void UpdateTrayTip();
void RemoveTrayIcon();
void ShowTrayMenu();
// Sets the window's settings timer while the settings file is not read yet or not saved yet, else stops it.
void RetrySettingsLater();

// One item of the tray menu as data, in the order the menu is built: a
// submenu's items come first, then the submenu itself, which takes them.
enum class MenuKind : std::uint8_t { Item, SubmenuItem, Submenu };
struct MenuItem {
    std::u16string Text;  // empty: a separator
    std::uint32_t Command;
    bool Checked;
    MenuKind Kind;
};
// The whole menu for a state: the candidate drives with their bus labels,
// the targets, whether Windows starts the program. ShowTrayMenu only appends it.
// The items of the menu shown last, as the user saw them, until a command of it is carried out.
extern std::vector<MenuItem> ShownMenu;
std::vector<MenuItem> TrayMenuItems(std::int32_t enabled, std::int32_t intervalSec, std::u16string_view drives,
                                    const std::vector<std::u16string>& labels, std::u16string_view targets,
                                    bool autostart);
std::intptr_t TrayWndProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

// The texts, free of any system call.
std::u16string TrayTipText(std::int32_t enabled, std::int32_t intervalSec);
std::u16string OnOffItemText(std::int32_t enabled);
std::u16string DriveItemText(char16_t letter, const std::u16string& label);
std::u16string IntervalItemText(std::int32_t seconds);
std::u16string AboutText();
