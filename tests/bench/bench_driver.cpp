// Windows-side half of scripts/bench.sh: posts commands to the running
// Kestrun.exe and times their effects against the script's timestamped
// inotify log (C:\bench\events.log, lines "<unix seconds> <path> <event>").
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double Now() {  // Unix time, the same clock as the script's timestamps
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}

// The time of the first event at or after `since` whose line holds both words.
double FindEvent(const char* path, const char* kind, double since, double timeout) {
    const double end = Now() + timeout;
    while (Now() < end) {
        std::ifstream log("C:\\bench\\events.log");
        std::string line;
        while (std::getline(log, line)) {
            const double at = std::atof(line.c_str());
            if (at >= since && line.find(path) != std::string::npos && line.find(kind) != std::string::npos)
                return at;
        }
        Sleep(5);
    }
    return -1;
}

HWND Window() { return FindWindowW(L"KestrunWnd", L"Kestrun"); }

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

int Wake(int count) {
    std::vector<double> latencies;
    for (int i = 0; i < count; ++i) {
        const double posted = Now();
        PostMessageW(Window(), WM_COMMAND, 305, 0);  // F becomes a target: a pass reads its new marker
        const double read = FindEvent("/f/.kestrun.dat", "ACCESS", posted, 10);
        if (read < 0) {
            std::printf("no read seen after command %d\n", i);
            return 1;
        }
        latencies.push_back(1000 * (read - posted));
        const double dropped = Now();
        PostMessageW(Window(), WM_COMMAND, 305, 0);  // and is dropped again
        FindEvent("/f/.kestrun.dat", "DELETE", dropped, 10);
    }
    std::printf("wake latency over %d drive commands: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", count,
                Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    return 0;
}

int Exit() {
    DWORD pid = 0;
    GetWindowThreadProcessId(Window(), &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    const double asked = Now();
    PostMessageW(Window(), WM_COMMAND, 103, 0);
    WaitForSingleObject(process, 30000);
    std::printf("exit command to process end: %.3f s\n", Now() - asked);
    return 0;
}

NOTIFYICONDATAW* DeleteOnDestroy = nullptr;

// Removes its icon while being destroyed, as Kestrun's window does.
LRESULT CALLBACK Quiet(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY && DeleteOnDestroy != nullptr)
        Shell_NotifyIconW(NIM_DELETE, DeleteOnDestroy);
    return DefWindowProcW(w, m, wp, lp);
}

// What the shell's own icon calls cost here, measured on an icon of our own.
int NotifyCost() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Quiet;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"BenchTray";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, L"BenchTray", L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = w;
    nid.uID = 7;
    nid.uFlags = NIF_ICON | NIF_TIP;
    nid.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32516));
    const double a = Now();
    Shell_NotifyIconW(NIM_ADD, &nid);
    const double b = Now();
    nid.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &nid);
    const double c = Now();
    Shell_NotifyIconW(NIM_DELETE, &nid);
    const double d = Now();
    nid.uFlags = NIF_ICON | NIF_TIP;
    Shell_NotifyIconW(NIM_ADD, &nid);
    nid.uFlags = NIF_TIP;
    DeleteOnDestroy = &nid;
    const double e = Now();
    DestroyWindow(w);
    const double f = Now();
    std::printf("Shell_NotifyIconW here: NIM_ADD %.0f ms, NIM_MODIFY %.0f ms, NIM_DELETE %.0f ms; "
                "NIM_DELETE from WM_DESTROY (as at Kestrun's exit) %.0f ms\n",
                1000 * (b - a), 1000 * (c - b), 1000 * (d - c), 1000 * (f - e));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "wake")
        return Wake(argc > 2 ? std::atoi(argv[2]) : 100);
    if (what == "exit")
        return Exit();
    if (what == "notify-cost")
        return NotifyCost();
    if (what == "command" && argc > 2)
        return SendMessageTimeoutW(Window(), WM_COMMAND, std::atoi(argv[2]), 0, SMTO_NORMAL, 10000, nullptr) ? 0 : 1;
    std::printf("usage: bench_driver wake N | exit | notify-cost | command ID\n");
    return 2;
}
