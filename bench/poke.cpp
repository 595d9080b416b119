// The benchmark's hands inside Wine, one action per run:
//   poke send MSG WPARAM LPARAM   SendMessageW to the running Kestrun's window (waits for it)
//   poke post MSG WPARAM LPARAM   PostMessageW to it
// Exits 1 when the window does not appear within 10 s.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string_view>

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view verb = argc > 1 ? argv[1] : L"";
    const auto arg = [&](int i) { return i < argc ? std::wcstoull(argv[i], nullptr, 0) : 0; };
    HWND window = nullptr;
    for (int i = 0; i < 200 && window == nullptr; ++i, Sleep(50))
        window = FindWindowW(L"KestrunWnd", nullptr);
    if (window == nullptr)
        return 1;
    const auto message = static_cast<UINT>(arg(2));
    if (verb == L"send")
        SendMessageW(window, message, arg(3), static_cast<LPARAM>(arg(4)));
    if (verb == L"post")
        PostMessageW(window, message, arg(3), static_cast<LPARAM>(arg(4)));
    return 0;
}
