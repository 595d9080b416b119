#include "settings/settings.h"
#include "state/state.h"
#include "tray/tray.h"

std::uint32_t TaskbarCreatedMessage = 0;

namespace {

// A settings file that could not be read at start-up is read again before the
// user sees or changes anything; what it holds then shows and reaches the worker.
void CatchUpSettings() {
    if (!RereadSettings())
        return;
    UpdateTrayTip();
    WakeWorker();
}

void ToggleEnabled() {
    FlipEnabled();
    SaveSettings();
    UpdateTrayTip();
    WakeWorker();
}

void RunCommand(std::uint32_t command) {
    if (command == CmdToggleEnabled) {
        ToggleEnabled();
    } else if (command == CmdToggleAutostart) {
        SetAutostartRegistered(!IsAutostartRegistered());
    } else if (command == CmdAbout) {
        platform::MessageBoxW(WindowHandle, AboutText(), u"Kestrun", platform::MbOk | platform::MbIconInformation);
    } else if (command == CmdExit) {
        platform::DestroyWindow(WindowHandle);
    } else if (command >= CmdIntervalFirst && command < CmdIntervalFirst + IntervalChoices.size()) {
        SetIntervalSec(IntervalChoices[command - CmdIntervalFirst]);
        SaveSettings();
        UpdateTrayTip();
        WakeWorker();
    } else if (command >= CmdDriveFirst && command < CmdDriveFirst + 26) {
        const char16_t letter = static_cast<char16_t>(u'A' + (command - CmdDriveFirst));
        // A dropped drive's marker is deleted by the worker, which the wake-up sends on its way.
        ToggleTargetDrive(letter);
        SaveSettings();
        WakeWorker();
    }
}

}  // namespace

std::intptr_t TrayWndProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == platform::WmDestroy) {
        RemoveTrayIcon();
        platform::PostQuitMessage(0);
        return 0;
    }
    if (message == platform::WmCommand) {
        CatchUpSettings();
        RunCommand(static_cast<std::uint32_t>(wParam & 0xFFFF));
        return 0;
    }
    if (message == TrayCallbackMessage) {
        // No notification version is set, so lParam is the mouse message itself.
        if (lParam == platform::WmRButtonUp || lParam == platform::WmContextMenu) {
            CatchUpSettings();
            ShowTrayMenu();
        } else if (lParam == platform::WmLButtonDblClk) {
            CatchUpSettings();
            ToggleEnabled();
        }
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
