// The real platform: one Win32 call per function, text converted at the
// boundary, nothing decided here.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <shellapi.h>

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace {

LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

CRITICAL_SECTION* Section(platform::CriticalSection* section) {
    return reinterpret_cast<CRITICAL_SECTION*>(section->Storage);
}

HANDLE Native(platform::Handle handle) { return static_cast<HANDLE>(handle); }
HKEY Key(platform::Handle handle) { return static_cast<HKEY>(handle); }

struct ThreadStart {
    platform::ThreadProc start;
    void* parameter;
};

// Win32 wants its own start-routine type; this adapter avoids casting function pointers.
DWORD WINAPI StartThread(LPVOID raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.start(start.parameter);
}

// Win32 wants its own procedure type; the program registers one window class,
// whose procedure this adapter forwards to (it is set before any window of the class exists).
platform::WindowProc RegisteredProcedure = nullptr;

LRESULT CALLBACK ForwardWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RegisteredProcedure(window, message, wParam, lParam);
}

MSG* Native(platform::Message* message) { return reinterpret_cast<MSG*>(message->Storage); }
const MSG* Native(const platform::Message* message) { return reinterpret_cast<const MSG*>(message->Storage); }

}  // namespace

namespace platform {

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the notification record has its 64-bit layout");

Handle CreateMutexW(bool initialOwner, const std::u16string& name, std::uint32_t* error) {
    const HANDLE mutex = ::CreateMutexW(nullptr, initialOwner, Wide(name));
    *error = ::GetLastError();
    return mutex;
}

bool SetDefaultDllDirectories(std::uint32_t directoryFlags) {
    return ::SetDefaultDllDirectories(directoryFlags) != FALSE;
}

std::uint32_t SetErrorMode(std::uint32_t mode) { return ::SetErrorMode(mode); }

std::uint32_t GetSystemDirectoryW(char16_t* buffer, std::uint32_t size) {
    return ::GetSystemDirectoryW(reinterpret_cast<LPWSTR>(buffer), size);
}

bool SetCurrentDirectoryW(const std::u16string& path) { return ::SetCurrentDirectoryW(Wide(path)) != FALSE; }

std::uint32_t GetModuleFileNameW(Handle module, char16_t* buffer, std::uint32_t size) {
    return ::GetModuleFileNameW(static_cast<HMODULE>(module), reinterpret_cast<LPWSTR>(buffer), size);
}

std::uint32_t GetSystemWindowsDirectoryW(char16_t* buffer, std::uint32_t size) {
    return ::GetSystemWindowsDirectoryW(reinterpret_cast<LPWSTR>(buffer), size);
}

#ifdef KESTRUN_COVERAGE
extern "C" void __gcov_dump();
#endif

void ExitProcess(std::uint32_t exitCode) {
#ifdef KESTRUN_COVERAGE
    __gcov_dump();  // the coverage build's counts: ExitProcess skips the exit handlers that write them
#endif
    ::ExitProcess(exitCode);
}

std::int32_t RegisterApplicationRestart(const std::u16string& commandLine, std::uint32_t flags) {
    return ::RegisterApplicationRestart(Wide(commandLine), flags);
}

std::int32_t UnregisterApplicationRestart() { return ::UnregisterApplicationRestart(); }

std::int32_t CoInitializeEx(std::uint32_t concurrency) { return ::CoInitializeEx(nullptr, concurrency); }
void CoUninitialize() { ::CoUninitialize(); }

std::uint16_t RegisterClassW(const WindowClass& windowClass) {
    RegisteredProcedure = windowClass.Procedure;
    WNDCLASSW record{};
    record.lpfnWndProc = ForwardWindowMessage;
    record.hInstance = static_cast<HINSTANCE>(windowClass.Instance);
    record.hIcon = static_cast<HICON>(windowClass.Icon);
    record.lpszClassName = Wide(windowClass.ClassName);
    return ::RegisterClassW(&record);
}

Handle CreateWindowExW(std::uint32_t exStyle, const std::u16string& className, const std::u16string& windowName,
                       std::uint32_t style, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                       Handle parent, Handle menu, Handle instance) {
    return ::CreateWindowExW(exStyle, Wide(className), Wide(windowName), style, x, y, width, height,
                             static_cast<HWND>(parent), static_cast<HMENU>(menu), static_cast<HINSTANCE>(instance),
                             nullptr);
}

bool DestroyWindow(Handle window) { return ::DestroyWindow(static_cast<HWND>(window)) != FALSE; }

static_assert(sizeof(MSG) <= sizeof(Message::Storage), "MSG must fit");

std::int32_t GetMessageW(Message* message, Handle window, std::uint32_t filterMin, std::uint32_t filterMax) {
    return ::GetMessageW(Native(message), static_cast<HWND>(window), filterMin, filterMax);
}

bool TranslateMessage(const Message* message) { return ::TranslateMessage(Native(message)) != FALSE; }
std::intptr_t DispatchMessageW(const Message* message) { return ::DispatchMessageW(Native(message)); }

std::intptr_t DefWindowProcW(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return ::DefWindowProcW(static_cast<HWND>(window), message, wParam, lParam);
}

void PostQuitMessage(std::int32_t exitCode) { ::PostQuitMessage(exitCode); }

bool PostMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return ::PostMessageW(static_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

std::uint32_t RegisterWindowMessageW(const std::u16string& name) { return ::RegisterWindowMessageW(Wide(name)); }

bool ChangeWindowMessageFilterEx(Handle window, std::uint32_t message, std::uint32_t action) {
    return ::ChangeWindowMessageFilterEx(static_cast<HWND>(window), message, action, nullptr) != FALSE;
}

std::uintptr_t SetTimer(Handle window, std::uintptr_t id, std::uint32_t milliseconds) {
    return ::SetTimer(static_cast<HWND>(window), id, milliseconds, nullptr);
}

bool KillTimer(Handle window, std::uintptr_t id) { return ::KillTimer(static_cast<HWND>(window), id) != FALSE; }

Handle LoadIconW(Handle instance, std::uintptr_t resourceId) {
    return ::LoadIconW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId));
}

Handle LoadImageW(Handle instance, std::uintptr_t resourceId, std::uint32_t type, std::int32_t width,
                  std::int32_t height, std::uint32_t flags) {
    return ::LoadImageW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId), type, width, height, flags);
}

std::int32_t GetSystemMetrics(std::uint32_t index) { return ::GetSystemMetrics(static_cast<int>(index)); }
Handle CreatePopupMenu() { return ::CreatePopupMenu(); }

bool AppendMenuW(Handle menu, std::uint32_t flags, std::uintptr_t idOrSubmenu, const std::u16string& text) {
    return ::AppendMenuW(static_cast<HMENU>(menu), flags, idOrSubmenu, (flags & MF_SEPARATOR) ? nullptr : Wide(text)) !=
           FALSE;
}

bool GetCursorPos(Point* point) {
    POINT p{};
    const BOOL ok = ::GetCursorPos(&p);
    point->X = p.x;
    point->Y = p.y;
    return ok != FALSE;
}

bool SetForegroundWindow(Handle window) { return ::SetForegroundWindow(static_cast<HWND>(window)) != FALSE; }

std::int32_t TrackPopupMenu(Handle menu, std::uint32_t flags, std::int32_t x, std::int32_t y, Handle window) {
    return ::TrackPopupMenu(static_cast<HMENU>(menu), flags, x, y, 0, static_cast<HWND>(window), nullptr);
}

bool DestroyMenu(Handle menu) { return ::DestroyMenu(static_cast<HMENU>(menu)) != FALSE; }

std::int32_t MessageBoxW(Handle owner, const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
    return ::MessageBoxW(static_cast<HWND>(owner), Wide(text), Wide(caption), type);
}

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData& data) {
    NOTIFYICONDATAW record{};
    record.cbSize = data.Size;
    record.hWnd = static_cast<HWND>(data.Window);
    record.uID = data.Id;
    record.uFlags = data.Flags;
    record.uCallbackMessage = data.CallbackMessage;
    record.hIcon = static_cast<HICON>(data.Icon);
    std::copy(std::begin(data.Tip), std::end(data.Tip), reinterpret_cast<char16_t*>(record.szTip));
    return ::Shell_NotifyIconW(message, &record) != FALSE;
}

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(CriticalSection::Storage), "CRITICAL_SECTION must fit");
static_assert(sizeof(char16_t) == sizeof(wchar_t), "UTF-16 text is passed through unchanged");

void InitializeCriticalSection(CriticalSection* section) { ::InitializeCriticalSection(Section(section)); }
void EnterCriticalSection(CriticalSection* section) { ::EnterCriticalSection(Section(section)); }
void LeaveCriticalSection(CriticalSection* section) { ::LeaveCriticalSection(Section(section)); }
void DeleteCriticalSection(CriticalSection* section) { ::DeleteCriticalSection(Section(section)); }

Handle CreateEventW(bool manualReset, bool initialState) {
    return ::CreateEventW(nullptr, manualReset, initialState, nullptr);
}

bool SetEvent(Handle event) { return ::SetEvent(Native(event)) != FALSE; }
bool ResetEvent(Handle event) { return ::ResetEvent(Native(event)) != FALSE; }

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(Native(object), milliseconds);
}

std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* objects, bool waitAll,
                                     std::uint32_t milliseconds) {
    return ::WaitForMultipleObjects(count, reinterpret_cast<const HANDLE*>(objects), waitAll, milliseconds);
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint64_t GetTickCount64() { return ::GetTickCount64(); }

Handle CreateThread(std::size_t stackSize, ThreadProc start, void* parameter, std::uint32_t creationFlags) {
    auto* adapter = new (std::nothrow) ThreadStart{start, parameter};
    if (adapter == nullptr)
        return nullptr;
    HANDLE thread = ::CreateThread(nullptr, stackSize, StartThread, adapter, creationFlags, nullptr);
    if (thread == nullptr)
        delete adapter;
    return thread;
}

bool CloseHandle(Handle object) { return ::CloseHandle(Native(object)) != FALSE; }
std::uint32_t GetLastError() { return ::GetLastError(); }

std::uint32_t GetLogicalDrives() { return ::GetLogicalDrives(); }
std::uint32_t GetDriveTypeW(const std::u16string& rootPath) { return ::GetDriveTypeW(Wide(rootPath)); }

std::uint32_t QueryDosDeviceW(const std::u16string& deviceName, char16_t* targetPath, std::uint32_t size) {
    return ::QueryDosDeviceW(Wide(deviceName), reinterpret_cast<LPWSTR>(targetPath), size);
}
bool GetFileAttributesExW(const std::u16string& path, std::uint32_t infoLevel, FileAttributeData* data) {
    WIN32_FILE_ATTRIBUTE_DATA found{};
    const BOOL ok = ::GetFileAttributesExW(Wide(path), static_cast<GET_FILEEX_INFO_LEVELS>(infoLevel), &found);
    data->Attributes = found.dwFileAttributes;
    data->Size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
    return ok != FALSE;
}

bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(Wide(path), attributes) != FALSE;
}

bool SetFileTime(Handle file, const FileTime* creationTime, const FileTime* lastAccessTime,
                 const FileTime* lastWriteTime) {
    static_assert(sizeof(FileTime) == sizeof(FILETIME), "FILETIME is passed through unchanged");
    return ::SetFileTime(Native(file), reinterpret_cast<const FILETIME*>(creationTime),
                         reinterpret_cast<const FILETIME*>(lastAccessTime),
                         reinterpret_cast<const FILETIME*>(lastWriteTime)) != FALSE;
}

std::uint32_t GetShortPathNameW(const std::u16string& longPath, char16_t* buffer, std::uint32_t size) {
    return ::GetShortPathNameW(Wide(longPath), reinterpret_cast<LPWSTR>(buffer), size);
}

Handle CreateFileW(const std::u16string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    return ::CreateFileW(Wide(path), desiredAccess, shareMode, nullptr, creationDisposition, flagsAndAttributes,
                         nullptr);
}

bool ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(Native(file), buffer, bytesToRead, &n, nullptr);
    if (bytesRead != nullptr)
        *bytesRead = n;
    return ok != FALSE;
}

bool WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite, std::uint32_t* bytesWritten) {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(Native(file), buffer, bytesToWrite, &n, nullptr);
    if (bytesWritten != nullptr)
        *bytesWritten = n;
    return ok != FALSE;
}

bool FlushFileBuffers(Handle file) { return ::FlushFileBuffers(Native(file)) != FALSE; }
bool DeleteFileW(const std::u16string& path) { return ::DeleteFileW(Wide(path)) != FALSE; }
bool CreateDirectoryW(const std::u16string& path) { return ::CreateDirectoryW(Wide(path), nullptr) != FALSE; }
bool RemoveDirectoryW(const std::u16string& path) { return ::RemoveDirectoryW(Wide(path)) != FALSE; }

bool MoveFileExW(const std::u16string& existing, const std::u16string& replacement, std::uint32_t flags) {
    return ::MoveFileExW(Wide(existing), Wide(replacement), flags) != FALSE;
}

bool DeviceIoControl(Handle device, std::uint32_t controlCode, const void* in, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* bytesReturned) {
    DWORD n = 0;
    const BOOL ok =
        ::DeviceIoControl(Native(device), controlCode, const_cast<void*>(in), inSize, out, outSize, &n, nullptr);
    if (bytesReturned != nullptr)
        *bytesReturned = n;
    return ok != FALSE;
}

void* VirtualAlloc(void* address, std::size_t size, std::uint32_t allocationType, std::uint32_t protect) {
    return ::VirtualAlloc(address, size, allocationType, protect);
}

bool VirtualFree(void* address, std::size_t size, std::uint32_t freeType) {
    return ::VirtualFree(address, size, freeType) != FALSE;
}

std::int32_t SHGetKnownFolderPath(KnownFolder, std::uint32_t flags, std::u16string* path, void** taskMemory) {
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, flags, nullptr, &folder);
    *taskMemory = folder;
    if (SUCCEEDED(result) && folder != nullptr)
        *path = reinterpret_cast<const char16_t*>(folder);
    return result;
}

void CoTaskMemFree(void* memory) { ::CoTaskMemFree(memory); }

std::int32_t RegOpenKeyExW(Handle root, const std::u16string& subKey, std::uint32_t options, std::uint32_t access,
                           Handle* key) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(Key(root), Wide(subKey), options, access, &opened);
    *key = opened;
    return status;
}

std::int32_t RegQueryValueExW(Handle key, const std::u16string& name, std::uint32_t* type, void* data,
                              std::uint32_t* size) {
    DWORD valueType = type != nullptr ? *type : 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    const LSTATUS status = ::RegQueryValueExW(Key(key), Wide(name), nullptr, type != nullptr ? &valueType : nullptr,
                                              static_cast<BYTE*>(data), size != nullptr ? &valueSize : nullptr);
    if (type != nullptr)
        *type = valueType;
    if (size != nullptr)
        *size = valueSize;
    return status;
}

std::int32_t RegSetValueExW(Handle key, const std::u16string& name, std::uint32_t type, const void* data,
                            std::uint32_t size) {
    return ::RegSetValueExW(Key(key), Wide(name), 0, type, static_cast<const BYTE*>(data), size);
}

std::int32_t RegDeleteValueW(Handle key, const std::u16string& name) { return ::RegDeleteValueW(Key(key), Wide(name)); }
std::int32_t RegCloseKey(Handle key) { return ::RegCloseKey(Key(key)); }

}  // namespace platform
