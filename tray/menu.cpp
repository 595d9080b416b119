#include "drives/drives.h"
#include "settings/settings.h"
#include "state/state.h"
#include "tray/tray.h"

std::vector<MenuItem> ShownMenu;

std::vector<MenuItem> TrayMenuItems(std::int32_t enabled, std::int32_t intervalSec, std::u16string_view drives,
                                    const std::vector<std::u16string>& labels, std::u16string_view targets,
                                    bool autostart) {
    std::vector<MenuItem> items;
    const auto add = [&](std::u16string text, std::uint32_t command, bool checked, MenuKind kind) {
        items.push_back({std::move(text), command, checked, kind});
    };
    add(OnOffItemText(enabled), CmdToggleEnabled, enabled != 0, MenuKind::Item);
    add(u"", 0, false, MenuKind::Item);
    // Exact units: a lower-case letter from a hand-edited file checks nothing.
    for (std::size_t i = 0; i < drives.size(); ++i)
        add(DriveItemText(drives[i], labels[i]), CmdDriveFirst + (drives[i] - u'A'),
            targets.find(drives[i]) != std::u16string_view::npos, MenuKind::SubmenuItem);
    add(u"対象ドライブ", 0, false, MenuKind::Submenu);
    for (std::size_t i = 0; i < IntervalChoices.size(); ++i)
        add(IntervalItemText(IntervalChoices[i]), CmdIntervalFirst + static_cast<std::uint32_t>(i),
            intervalSec == IntervalChoices[i], MenuKind::SubmenuItem);
    add(u"間隔", 0, false, MenuKind::Submenu);
    add(u"Windows起動時に自動開始", CmdToggleAutostart, autostart, MenuKind::Item);
    add(u"", 0, false, MenuKind::Item);
    add(u"Kestrun について", CmdAbout, false, MenuKind::Item);
    add(u"終了", CmdExit, false, MenuKind::Item);
    return items;
}

// Built afresh from the live state at every showing and destroyed when it closes.
void ShowTrayMenu() {
    const std::u16string drives = ListCandidateDrives();
    std::vector<std::u16string> labels;
    // The labels may open the devices, so they are all read before the targets are copied under the lock.
    for (const char16_t letter : drives)
        labels.push_back(BusLabel(letter));
    const platform::Handle menu = platform::CreatePopupMenu();
    platform::Handle submenu = nullptr;
    ShownMenu = TrayMenuItems(Settings.Enabled.load(), Settings.IntervalSec.load(), drives, labels,
                              SnapshotTargetDrives(), IsAutostartRegistered());
    for (const MenuItem& item : ShownMenu) {
        if (item.Kind != MenuKind::Item && submenu == nullptr)
            submenu = platform::CreatePopupMenu();
        if (item.Kind == MenuKind::Submenu) {
            platform::AppendMenuW(menu, platform::MfPopup, reinterpret_cast<std::uintptr_t>(submenu), item.Text);
            submenu = nullptr;
        } else {
            const std::uint32_t flags = item.Text.empty() ? platform::MfSeparator
                                        : item.Checked    ? platform::MfChecked
                                                          : platform::MfString;
            platform::AppendMenuW(item.Kind == MenuKind::Item ? menu : submenu, flags, item.Command, item.Text);
        }
    }

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
