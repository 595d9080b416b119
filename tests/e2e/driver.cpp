// The end-to-end run's hands on the Windows side, one verb a run:
//   driver tooltip          prints the tooltip the shell shows, if any (exit 1 when none shows)
//   driver delete-icon      removes Kestrun's icon from the shell, as a restarting Explorer loses it
//   driver taskbar-created  broadcasts what a restarted Explorer announces
//   driver close-box        presses OK in Kestrun's message box
//   driver lock PATH MS     holds PATH open, sharing nothing, for MS milliseconds once it says "locked"
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string_view>

namespace {
DWORD Shell = 0;
int Shown = 0;

// A hidden tooltip keeps its last text: only a visible one of the shell's counts.
BOOL CALLBACK PrintTooltip(HWND window, LPARAM) {
    wchar_t kind[32] = L"";
    wchar_t text[128] = L"";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, kind, 32);
    if (process != Shell || !IsWindowVisible(window) || std::wstring_view(kind) != L"tooltips_class32")
        return TRUE;
    // WM_GETTEXT is carried across processes; TTM_GETTEXT is not.
    SendMessageTimeoutW(window, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    std::printf("%ls\n", text);
    ++Shown;
    return TRUE;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view verb = argc > 1 ? argv[1] : L"";
    if (verb == L"lock" && argc == 4) {
        std::puts(CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE
                      ? "locked"
                      : "not locked");
        std::fflush(stdout);
        Sleep(std::wcstoul(argv[3], nullptr, 10));
        return 0;
    }
    if (verb == L"tooltip") {
        GetWindowThreadProcessId(FindWindowW(L"Shell_TrayWnd", nullptr), &Shell);
        EnumWindows(PrintTooltip, 0);
        return Shown > 0 ? 0 : 1;
    }
    NOTIFYICONDATAW icon{};  // the shell knows an icon by its window and number alone
    icon.cbSize = sizeof icon;
    icon.hWnd = FindWindowW(L"KestrunWnd", nullptr);
    icon.uID = 1;
    if (verb == L"delete-icon")
        return icon.hWnd != nullptr && Shell_NotifyIconW(NIM_DELETE, &icon) ? 0 : 1;
    if (verb == L"taskbar-created")
        return PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0) ? 0 : 1;
    if (verb == L"close-box")
        return PostMessageW(FindWindowW(L"#32770", L"Kestrun"), WM_COMMAND, IDOK, 0) ? 0 : 1;
    return 2;
}
