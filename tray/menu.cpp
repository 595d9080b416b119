#include "app/state.h"
#include "drives/drives.h"
#include "settings/settings.h"
#include "tray/tray.h"

namespace {
std::uint32_t Checked(bool on) { return on ? platform::MfChecked : platform::MfString; }
}  // namespace

// Built afresh from the live state at every showing and destroyed when it closes.
void ShowTrayMenu() {
    const platform::Handle menu = platform::CreatePopupMenu();
    const std::int32_t enabled = Settings.Enabled.load();
    platform::AppendMenuW(menu, Checked(enabled != 0), CmdToggleEnabled, OnOffItemText(enabled));
    platform::AppendMenuW(menu, platform::MfSeparator, 0, u"");

    const platform::Handle drives = platform::CreatePopupMenu();
    for (const char16_t letter : ListCandidateDrives()) {
        // The label may open the device, so it comes before the lock is taken.
        const std::u16string text = DriveItemText(letter, BusLabel(letter));
        platform::AppendMenuW(drives, Checked(IsTargetDrive(letter)), CmdDriveFirst + (letter - u'A'), text);
    }
    platform::AppendMenuW(menu, platform::MfPopup, reinterpret_cast<std::uintptr_t>(drives), u"対象ドライブ");

    const platform::Handle intervals = platform::CreatePopupMenu();
    const std::int32_t interval = Settings.IntervalSec.load();
    for (std::size_t i = 0; i < IntervalChoices.size(); ++i)
        platform::AppendMenuW(intervals, Checked(interval == IntervalChoices[i]),
                              CmdIntervalFirst + static_cast<std::uint32_t>(i), IntervalItemText(IntervalChoices[i]));
    platform::AppendMenuW(menu, platform::MfPopup, reinterpret_cast<std::uintptr_t>(intervals), u"間隔");

    platform::AppendMenuW(menu, Checked(IsAutostartRegistered()), CmdToggleAutostart, u"Windows起動時に自動開始");
    platform::AppendMenuW(menu, platform::MfSeparator, 0, u"");
    platform::AppendMenuW(menu, platform::MfString, CmdAbout, u"Kestrun について");
    platform::AppendMenuW(menu, platform::MfString, CmdExit, u"終了");

    platform::Point cursor;
    platform::GetCursorPos(&cursor);
    // Without being foreground the menu would not close when the user clicks elsewhere.
    platform::SetForegroundWindow(WindowHandle);
    platform::TrackPopupMenu(menu, platform::TpmLeftAlign | platform::TpmBottomAlign | platform::TpmRightButton,
                             cursor.X, cursor.Y, WindowHandle);
    // A benign message after the menu closes, or the next tray menu may vanish at once.
    platform::PostMessageW(WindowHandle, platform::WmNull, 0, 0);
    platform::DestroyMenu(menu);
}
