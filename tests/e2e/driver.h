#pragma once
// What the end-to-end scenarios share: starting and ending the real program,
// talking to its window, reading what it leaves behind, and asking the script
// outside Wine for what cannot be done from inside.
#include <windows.h>

#include <shlobj.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

inline constexpr UINT TrayCallback = WM_APP + 1;
inline const std::string Mark = "\xEF\xBB\xBF";

inline std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return std::wstring(buffer, n);
}

inline std::wstring ExePath() { return Env(L"KESTRUN_EXE"); }

inline std::wstring SettingsPath() {
    PWSTR folder = nullptr;
    SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder);
    std::wstring path = std::wstring(folder) + L"\\Kestrun\\config.ini";
    CoTaskMemFree(folder);
    return path;
}

inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string Canonical(int enabled, int interval, const std::string& drives) {
    return Mark + "# Kestrun config\r\nEnabled=" + std::to_string(enabled) + "\r\nIntervalSec=" +
           std::to_string(interval) + "\r\nDrives=" + drives + "\r\n";
}

inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

inline bool SameTime(FILETIME a, FILETIME b) { return CompareFileTime(&a, &b) == 0; }

// How often the watcher outside saw the marker on a drive read (IN_ACCESS).
inline int MarkerReads(char drive) {
    std::istringstream log(ReadBytes(L"C:\\e2e\\events.log"));
    std::string line;
    int reads = 0;
    const std::string folder = std::string("/") + drive + "/";
    while (std::getline(log, line))
        if (line.find(folder) != std::string::npos && line.find(".kestrun.dat") != std::string::npos &&
            line.find("ACCESS") != std::string::npos)
            ++reads;
    return reads;
}

inline std::wstring RunValue(DWORD* type) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return L"<no key>";
    wchar_t data[600] = {};
    DWORD size = sizeof data - 2;
    const LSTATUS status = RegQueryValueExW(key, L"Kestrun", nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(data) : L"<none>";
}

class Kestrun {
public:
    bool Start() {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + ExePath() + L"\"";
        if (!CreateProcessW(ExePath().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_))
            return false;
        started_ = std::chrono::steady_clock::now();
        return WaitFor([this] { return (window_ = FindWindowW(L"KestrunWnd", L"Kestrun")) != nullptr; }, 20000);
    }

    HWND Window() const { return window_; }
    HANDLE Process() const { return process_.hProcess; }

    // Commands go by SendMessage, so each has been carried out when it returns.
    void Command(WPARAM id) const { SendMessageTimeoutW(window_, WM_COMMAND, id, 0, SMTO_NORMAL, 10000, nullptr); }
    void Tray(LPARAM mouse) const { PostMessageW(window_, TrayCallback, 1, mouse); }

    // Returns the exit code, or STILL_ACTIVE if the process did not end in time.
    DWORD Exit(double* seconds = nullptr) {
        const auto asked = std::chrono::steady_clock::now();
        PostMessageW(window_, WM_COMMAND, 103, 0);
        return AwaitEnd(20000, asked, seconds);
    }

    DWORD AwaitEnd(DWORD milliseconds, std::chrono::steady_clock::time_point from = {}, double* seconds = nullptr) {
        WaitForSingleObject(process_.hProcess, milliseconds);
        if (seconds != nullptr)
            *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    // Ends the process hard, as a crash or power cut would: no shutdown at all.
    void Kill() {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 10000);
    }

    ~Kestrun() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    std::chrono::steady_clock::time_point started_;
};

// The popup menu's own window, once it is shown.
inline HWND AwaitMenu() {
    HWND menu = nullptr;
    WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, 10000);
    return menu;
}

inline void Key(HWND menu, WPARAM key) {
    PostMessageW(menu, WM_KEYDOWN, key, 0);
    Sleep(150);
}

// Opens the tray menu of the running program and walks it by keyboard.
inline bool ChooseByKeyboard(const Kestrun& k, std::initializer_list<WPARAM> keys) {
    k.Tray(WM_RBUTTONUP);
    HWND menu = AwaitMenu();
    if (menu == nullptr)
        return false;
    Sleep(200);
    for (WPARAM key : keys) {
        HWND current = FindWindowW(L"#32768", nullptr);
        Key(current != nullptr ? current : menu, key);
    }
    return WaitFor([] { return FindWindowW(L"#32768", nullptr) == nullptr || !IsWindowVisible(FindWindowW(L"#32768", nullptr)); }, 5000);
}

inline std::string SettingsNow() { return ReadBytes(SettingsPath()); }


// Asks tests/e2e/run.sh to do `action` outside Wine and returns its answer.
inline std::string AskOutside(const std::string& action) {
    const std::wstring name(action.begin(), action.end());
    const std::wstring answer = L"C:\\e2e\\answer-" + name;
    DeleteFileW(answer.c_str());
    std::ofstream((L"C:\\e2e\\ask\\" + name).c_str()) << action;
    WaitFor([&] { return GetFileAttributesW(answer.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000);
    return ReadBytes(answer);
}
