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
}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view verb = argc > 1 ? argv[1] : L"";
    const auto arg = [&](int i) { return i < argc ? std::wcstoull(argv[i], nullptr, 0) : 0; };
    const auto message = static_cast<UINT>(arg(2));
    if (verb == L"send")
        SendMessageW(Await(L"KestrunWnd"), message, arg(3), static_cast<LPARAM>(arg(4)));
    if (verb == L"post")
        PostMessageW(Await(L"KestrunWnd"), message, arg(3), static_cast<LPARAM>(arg(4)));
    if (verb == L"keys") {
        Sleep(300);  // the menu takes keys only once it tracks
        for (int i = 2; i < argc; ++i, Sleep(150))
            PostMessageW(Await(L"#32768"), WM_KEYDOWN, arg(i), 0);
    }
    if (verb == L"storm") {
        std::srand(static_cast<unsigned>(arg(3)));
        for (unsigned long long i = 0; i < arg(2); ++i)
            PostMessageW(Await(L"KestrunWnd"), WM_COMMAND, i % 5 == 0 ? 100 : 200 + std::rand() % 4, 0);
    }
    return 0;
}
