#include <algorithm>

#include "state/state.h"
#include "tray/tray.h"

platform::NotifyIconData TrayIcon;

namespace {
// NOTIFYICONDATAW in its current layout on 64-bit Windows.
constexpr std::uint32_t NotifyIconDataSize = 976;
constexpr std::uint32_t TrayIconRetryMs = 2000;
bool RetryingTrayIcon = false;

void SetTip(const std::u16string& text) {
    const std::size_t n = std::min(text.size(), std::size(TrayIcon.Tip) - 1);
    std::copy_n(text.data(), n, TrayIcon.Tip);
    TrayIcon.Tip[n] = u'\0';
}
}  // namespace

bool AddTrayIcon() {
    TrayIcon.Window = WindowHandle;
    TrayIcon.Size = NotifyIconDataSize;
    TrayIcon.Id = 1;
    TrayIcon.Flags = platform::NifMessage | platform::NifIcon | platform::NifTip;
    TrayIcon.CallbackMessage = TrayCallbackMessage;
    // Loaded once: a re-add after Explorer restarts reuses the handle.
    if (TrayIcon.Icon == nullptr) {
        const std::int32_t height = platform::GetSystemMetrics(platform::SmCySmIcon);
        const std::int32_t width = platform::GetSystemMetrics(platform::SmCxSmIcon);
        TrayIcon.Icon = platform::LoadImageW(InstanceHandle, IconResourceId, platform::ImageIcon, width, height,
                                             platform::LrDefaultColor);
        if (TrayIcon.Icon == nullptr)
            TrayIcon.Icon = platform::LoadIconW(nullptr, platform::IdiInformation);
    }
    SetTip(u"Kestrun");
    // At logon the shell may be too busy to take the icon, or time out after
    // taking it, so that the next add fails because the icon exists: a modify
    // that succeeds tells that apart. Until then a timer tries again.
    if (!platform::Shell_NotifyIconW(platform::NimAdd, TrayIcon) &&
        !platform::Shell_NotifyIconW(platform::NimModify, TrayIcon)) {
        RetryingTrayIcon = platform::SetTimer(WindowHandle, TrayIconTimer, TrayIconRetryMs) != 0;
        return false;
    }
    if (RetryingTrayIcon) {
        platform::KillTimer(WindowHandle, TrayIconTimer);
        RetryingTrayIcon = false;
    }
    UpdateTrayTip();
    return true;
}

void UpdateTrayTip() {
    SetTip(TrayTipText(Settings.Enabled.load(), Settings.IntervalSec.load()));
    TrayIcon.Flags = platform::NifTip;
    platform::Shell_NotifyIconW(platform::NimModify, TrayIcon);
}

void RemoveTrayIcon() {
    // A start-up that gave up before the icon was added has nothing to remove.
    if (TrayIcon.Window == nullptr)
        return;
    platform::Shell_NotifyIconW(platform::NimDelete, TrayIcon);
}
