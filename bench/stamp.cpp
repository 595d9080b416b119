// The benchmark's clock inside Wine: sends Kestrun's window one menu command
// and prints the Unix time, in seconds, at which it was sent. Compared with the
// timestamped inotify log, that gives the time from command to disk.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    HWND window = FindWindowW(L"KestrunWnd", nullptr);
    if (argc < 2 || window == nullptr)
        return 1;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    SendMessageW(window, WM_COMMAND, std::wcstoul(argv[1], nullptr, 10), 0);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    std::printf("%.6f\n", static_cast<double>(ticks) / 1e7 - 11644473600.0);
    return 0;
}
