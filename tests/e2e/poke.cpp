// The end-to-end script's hands inside Wine, one action per run:
//   poke send MSG WPARAM LPARAM   SendMessageW to the running Kestrun's window (waits for it)
//   poke post MSG WPARAM LPARAM   PostMessageW to it
//   poke keys VK...               keys to the popup menu, once it shows
//   poke storm N SEED             N commands posted at once, chosen at random
// Exits 1 when the window or the menu does not appear within 10 s.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string_view>

namespace {

HWND Await(const wchar_t* className) {
    for (int i = 0; i < 200; ++i, Sleep(50))
        if (HWND window = FindWindowW(className, nullptr);
            window != nullptr && (className[0] != L'#' || IsWindowVisible(window)))
            return window;
    std::exit(1);
}

unsigned long long Number(const wchar_t* text) { return std::wcstoull(text, nullptr, 0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    const std::wstring_view verb = argv[1];
    if (verb == L"send" || verb == L"post") {
        HWND window = Await(L"KestrunWnd");
        const auto message = static_cast<UINT>(Number(argv[2]));
        const WPARAM wParam = argc > 3 ? Number(argv[3]) : 0;
        const LPARAM lParam = argc > 4 ? static_cast<LPARAM>(Number(argv[4])) : 0;
        if (verb == L"send")
            SendMessageW(window, message, wParam, lParam);
        else
            PostMessageW(window, message, wParam, lParam);
    } else if (verb == L"keys") {
        Sleep(300);  // the menu takes keys only once it tracks
        for (int i = 2; i < argc; ++i, Sleep(150))
            PostMessageW(Await(L"#32768"), WM_KEYDOWN, Number(argv[i]), 0);
    } else if (verb == L"storm") {
        HWND window = Await(L"KestrunWnd");
        std::srand(static_cast<unsigned>(Number(argv[3])));
        const WPARAM commands[] = {100, 200, 201, 202, 203};
        for (unsigned long long i = 0; i < Number(argv[2]); ++i)
            PostMessageW(window, WM_COMMAND, commands[std::rand() % 5], 0);
    }
    return 0;
}
