#include <algorithm>

#include "keepawake/keepawake.h"
#include "settings/settings.h"
#include "state/state.h"
#include "tray/tray.h"

std::uint32_t TaskbarCreatedMessage = 0;

namespace {

// Every change is saved (or left to the timer), shown in the tooltip when it shows there, and acted on at once.
void Commit(bool shown) {
    SaveSettings();
    if (shown)
        UpdateTrayTip();
    WakeWorker();
    RetrySettingsLater();
}

// The check mark the user saw on the item of `command` in the menu shown last; for a command
// from elsewhere, the state now. A read of the settings file may change the state while the menu
// is open (the menu's loop runs the timer): a command then does what its item showed it would do.
bool SawChecked(std::uint32_t command, bool now) {
    const auto item = std::ranges::find(ShownMenu, command, &MenuItem::Command);
    return item == ShownMenu.end() ? now : item->Checked;
}

// On or off against what the user saw. The tooltip follows every change at once, a read of the
// settings file included, so a double-click switches against what it shows.
void SwitchEnabled(bool sawOn) {
    if ((Settings.Enabled.load() != 0) == sawOn)
        FlipEnabled();
    UserCommands.Enabled = true;
    Commit(true);
}

void RunCommand(std::uint32_t command) {
    if (command == CmdToggleEnabled) {
        SwitchEnabled(SawChecked(command, Settings.Enabled.load() != 0));
    } else if (command == CmdToggleAutostart) {
        SetAutostartRegistered(!SawChecked(command, IsAutostartRegistered()));
    } else if (command == CmdAbout) {
        platform::MessageBoxW(WindowHandle, AboutText(), u"Kestrun", platform::MbOk | platform::MbIconInformation);
    } else if (command == CmdExit) {
        platform::DestroyWindow(WindowHandle);
    } else if (command >= CmdIntervalFirst && command < CmdIntervalFirst + IntervalChoices.size()) {
        SetIntervalSec(IntervalChoices[command - CmdIntervalFirst]);
        UserCommands.IntervalSec = true;
        Commit(true);
    } else if (command >= CmdDriveFirst && command < CmdDriveFirst + 26) {
        const char16_t letter = static_cast<char16_t>(u'A' + (command - CmdDriveFirst));
        const bool target = IsTargetDrive(letter);
        // A dropped drive's marker is deleted by the worker, which the wake-up sends on its way.
        if (target == SawChecked(command, target))
            ToggleTargetDrive(letter);
        if (UserCommands.Drives.find(letter) == std::u16string::npos)
            UserCommands.Drives.push_back(letter);
        Commit(false);
    }
}

// One more try, with the usual pauses, before the program ends.
void LandPendingSave() {
    if (SettingsSaveFailures > 0)
        SaveSettings();
}

}  // namespace

// One timer while the settings file is not read yet or not saved yet, none otherwise: an idle program costs nothing.
void RetrySettingsLater() {
    const std::uint32_t delay = SettleDelayMs();
    if (delay != 0)
        platform::SetTimer(WindowHandle, SettingsTimer, delay);
    else
        platform::KillTimer(WindowHandle, SettingsTimer);
}

std::intptr_t TrayWndProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == platform::WmDestroy) {
        RemoveTrayIcon();
        LandPendingSave();
        platform::PostQuitMessage(0);
        return 0;
    }
    // The session ends, unless a program objects. Windows may restart at the next logon the programs
    // registered for restart ("restart apps" at sign-in, or a restart that asks for it): only the Run value
    // may start Kestrun there. The Restart Manager closing Kestrun while the session goes on (an installer,
    // an update) keeps the registration, and with it the restart.
    if (message == platform::WmQueryEndSession &&
        ((lParam & platform::EndsessionCloseapp) == 0 || platform::GetSystemMetrics(platform::SmShuttingDown) != 0))
        SetRestartRegistered(false);
    // The session ends, or the Restart Manager closes Kestrun: Windows may end the process once this returns,
    // and ends one that takes more than a few seconds. So what exit does is done here within exit's bound:
    // the worker is told to stop first, so that its clean-up of dropped drives runs while a pending save is
    // written, then waited for. Closed alone, Kestrun then exits. A session that goes on after all: back
    // as before.
    if (message == platform::WmEndSession) {
        if (wParam == 0) {
            SetRestartRegistered(true);
            return 0;
        }
        const std::uint64_t asked = AskKeepAwakeWorkerToStop();
        LandPendingSave();
        WaitForKeepAwakeWorker(asked);
        if ((lParam & platform::EndsessionCloseapp) != 0)
            platform::DestroyWindow(window);
        return 0;
    }
    if (message == platform::WmCommand) {
        RunCommand(static_cast<std::uint32_t>(wParam & 0xFFFF));
        ShownMenu.clear();
        return 0;
    }
    if (message == TrayCallbackMessage) {
        // No notification version is set, so lParam is the mouse message itself.
        if (lParam == platform::WmRButtonUp || lParam == platform::WmContextMenu)
            ShowTrayMenu();
        else if (lParam == platform::WmLButtonDblClk)
            SwitchEnabled(Settings.Enabled.load() != 0);
        return 0;
    }
    if (message == platform::WmTimer && wParam == SettingsTimer) {
        if (SettleSettings()) {
            UpdateTrayTip();
            WakeWorker();
        }
        RetrySettingsLater();
        return 0;
    }
    // Explorer restarted and the notification area is new, or the icon is still to be added: put it there.
    if ((message == TaskbarCreatedMessage && TaskbarCreatedMessage != 0) ||
        (message == platform::WmTimer && wParam == TrayIconTimer)) {
        AddTrayIcon();
        return 0;
    }
    return platform::DefWindowProcW(window, message, wParam, lParam);
}
