#pragma once
// The program's only door to the operating system. Each function mirrors one
// Win32 call the program makes, with the same name and the same arguments in
// the same order, in portable types: UTF-16 text as std::u16string, handles as
// opaque pointers, flags as plain integers with Win32's values. Arguments the
// program always passes as null (security attributes, templates, overlapped
// records, reserved words) are left out. Two implementations exist: the real
// wrappers in platform/win32 and the scripted fake used by the host tests.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using Handle = void*;
inline Handle const InvalidHandleValue = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

// Opaque room for a CRITICAL_SECTION (40 bytes on 64-bit Windows) or the
// fake's lock; each implementation checks that its lock fits.
struct CriticalSection {
    alignas(16) unsigned char Storage[64];
};

// Errors and wait results.
constexpr std::uint32_t ErrorSuccess = 0;
constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorPathNotFound = 3;
constexpr std::uint32_t ErrorAccessDenied = 5;
constexpr std::uint32_t ErrorSharingViolation = 32;
constexpr std::uint32_t ErrorLockViolation = 33;
constexpr std::uint32_t ErrorDiskFull = 112;
constexpr std::uint32_t ErrorInsufficientBuffer = 122;
constexpr std::uint32_t ErrorAlreadyExists = 183;
constexpr std::uint32_t WaitObject0 = 0;
constexpr std::uint32_t WaitTimeout = 258;
constexpr std::uint32_t WaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t Infinite = 0xFFFFFFFFu;

// Drive types.
constexpr std::uint32_t DriveUnknown = 0;
constexpr std::uint32_t DriveNoRootDir = 1;
constexpr std::uint32_t DriveRemovable = 2;
constexpr std::uint32_t DriveFixed = 3;
constexpr std::uint32_t DriveRemote = 4;
constexpr std::uint32_t DriveCdrom = 5;
constexpr std::uint32_t DriveRamdisk = 6;

// Files.
constexpr std::uint32_t FileAttributeReadonly = 0x1;
constexpr std::uint32_t FileAttributeHidden = 0x2;
constexpr std::uint32_t FileAttributeSystem = 0x4;
constexpr std::uint32_t FileAttributeDirectory = 0x10;
constexpr std::uint32_t FileAttributeArchive = 0x20;
constexpr std::uint32_t FileAttributeNormal = 0x80;
constexpr std::uint32_t FileAttributeSparseFile = 0x200;
constexpr std::uint32_t FileAttributeCompressed = 0x800;
constexpr std::uint32_t GetFileExInfoStandard = 0;
constexpr std::uint32_t GenericRead = 0x80000000u;
constexpr std::uint32_t GenericWrite = 0x40000000u;
constexpr std::uint32_t FileWriteAttributes = 0x100;
constexpr std::uint32_t FileShareRead = 0x1;
constexpr std::uint32_t FileShareWrite = 0x2;
constexpr std::uint32_t FileShareDelete = 0x4;
constexpr std::uint32_t CreateAlways = 2;
constexpr std::uint32_t OpenExisting = 3;
constexpr std::uint32_t FileFlagNoBuffering = 0x20000000u;
constexpr std::uint32_t MovefileReplaceExisting = 0x1;
constexpr std::uint32_t MovefileWriteThrough = 0x8;
constexpr std::uint32_t LongestPathUnits = 32768;  // the longest path Windows takes, with its terminator

// Memory.
constexpr std::uint32_t MemCommit = 0x1000;
constexpr std::uint32_t MemReserve = 0x2000;
constexpr std::uint32_t MemRelease = 0x8000;
constexpr std::uint32_t PageReadwrite = 0x04;

// Devices.
constexpr std::uint32_t IoctlStorageQueryProperty = 0x2D1400;
constexpr std::uint32_t FsctlSetCompression = 0x9C040;
constexpr std::uint16_t CompressionFormatNone = 0;

// Module loading.
constexpr std::uint32_t LoadLibrarySearchSystem32 = 0x800;

// Restart after an installer closed the program.
constexpr std::uint32_t RestartNoCrash = 0x1;
constexpr std::uint32_t RestartNoHang = 0x2;
constexpr std::uint32_t RestartNoReboot = 0x8;

// Registry.
inline Handle const HkeyCurrentUser =
    reinterpret_cast<Handle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001u)));
constexpr std::uint32_t KeyQueryValue = 0x1;
constexpr std::uint32_t KeySetValue = 0x2;
constexpr std::uint32_t RegSz = 1;
constexpr std::uint32_t RegExpandSz = 2;

// Windows, messages, menus and the notification area.
constexpr std::uint32_t WmNull = 0x0000;
constexpr std::uint32_t WmDestroy = 0x0002;
constexpr std::uint32_t WmQueryEndSession = 0x0011;
constexpr std::uint32_t WmEndSession = 0x0016;
constexpr std::intptr_t EndsessionCloseapp = 0x1;
constexpr std::uint32_t WmContextMenu = 0x007B;
constexpr std::uint32_t WmCommand = 0x0111;
constexpr std::uint32_t WmLButtonDblClk = 0x0203;
constexpr std::uint32_t WmRButtonUp = 0x0205;
constexpr std::uint32_t WmTimer = 0x0113;
constexpr std::uint32_t WmApp = 0x8000;
constexpr std::uint32_t MsgfltAllow = 1;
constexpr std::uint32_t SemFailCriticalErrors = 0x0001;
constexpr std::uint32_t MfString = 0x0000;
constexpr std::uint32_t MfChecked = 0x0008;
constexpr std::uint32_t MfPopup = 0x0010;
constexpr std::uint32_t MfSeparator = 0x0800;
constexpr std::uint32_t TpmLeftAlign = 0x0000;
constexpr std::uint32_t TpmRightButton = 0x0002;
constexpr std::uint32_t TpmBottomAlign = 0x0020;
constexpr std::uint32_t MbOk = 0x0000;
constexpr std::uint32_t MbIconInformation = 0x0040;
constexpr std::uint32_t SmCxSmIcon = 49;
constexpr std::uint32_t SmCySmIcon = 50;
constexpr std::uint32_t SmShuttingDown = 0x2000;
constexpr std::uint32_t ImageIcon = 1;
constexpr std::uint32_t LrDefaultColor = 0;
constexpr std::uintptr_t IdiInformation = 32516;
constexpr std::uint32_t NimAdd = 0;
constexpr std::uint32_t NimModify = 1;
constexpr std::uint32_t NimDelete = 2;
constexpr std::uint32_t NifMessage = 0x1;
constexpr std::uint32_t NifIcon = 0x2;
constexpr std::uint32_t NifTip = 0x4;
constexpr std::uint32_t CoinitApartmentThreaded = 0x2;
inline Handle const HwndMessage = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-3));

using WindowProc = std::intptr_t (*)(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

struct WindowClass {  // WNDCLASSW with the fields the program sets; the rest are zero
    WindowProc Procedure = nullptr;
    Handle Instance = nullptr;
    Handle Icon = nullptr;
    std::u16string ClassName;
};

// Room for a MSG, passed through untouched: the program only takes messages
// from the queue and hands them back for translating and dispatching.
struct Message {
    alignas(8) unsigned char Storage[64];
};

struct Point {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

struct NotifyIconData {  // NOTIFYICONDATAW: the fields the program sets, all others stay zero
    std::uint32_t Size = 0;
    Handle Window = nullptr;
    std::uint32_t Id = 0;
    std::uint32_t Flags = 0;
    std::uint32_t CallbackMessage = 0;
    Handle Icon = nullptr;
    char16_t Tip[128] = {};
};

struct FileAttributeData {  // WIN32_FILE_ATTRIBUTE_DATA: the attributes and the size
    std::uint32_t Attributes = 0;
    std::uint64_t Size = 0;
};

struct FileTime {  // FILETIME
    std::uint32_t LowDateTime = 0;
    std::uint32_t HighDateTime = 0;
};

// kernel32: the process.
bool SetDefaultDllDirectories(std::uint32_t directoryFlags);
// `error` receives the call's own last error, taken before anything else can change it.
Handle CreateMutexW(bool initialOwner, const std::u16string& name, std::uint32_t* error);
std::uint32_t SetErrorMode(std::uint32_t mode);
std::uint32_t GetSystemDirectoryW(char16_t* buffer, std::uint32_t size);
bool SetCurrentDirectoryW(const std::u16string& path);
std::uint32_t GetModuleFileNameW(Handle module, char16_t* buffer, std::uint32_t size);
std::uint32_t GetSystemWindowsDirectoryW(char16_t* buffer, std::uint32_t size);
[[noreturn]] void ExitProcess(std::uint32_t exitCode);
std::int32_t RegisterApplicationRestart(const std::u16string& commandLine, std::uint32_t flags);
std::int32_t UnregisterApplicationRestart();

// ole32.
std::int32_t CoInitializeEx(std::uint32_t concurrency);
void CoUninitialize();

// user32.
std::uint16_t RegisterClassW(const WindowClass& windowClass);
Handle CreateWindowExW(std::uint32_t exStyle, const std::u16string& className, const std::u16string& windowName,
                       std::uint32_t style, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                       Handle parent, Handle menu, Handle instance);
bool DestroyWindow(Handle window);
std::int32_t GetMessageW(Message* message, Handle window, std::uint32_t filterMin, std::uint32_t filterMax);
bool TranslateMessage(const Message* message);
std::intptr_t DispatchMessageW(const Message* message);
std::intptr_t DefWindowProcW(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
void PostQuitMessage(std::int32_t exitCode);
bool PostMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
std::uint32_t RegisterWindowMessageW(const std::u16string& name);
bool ChangeWindowMessageFilterEx(Handle window, std::uint32_t message, std::uint32_t action);
std::uintptr_t SetTimer(Handle window, std::uintptr_t id, std::uint32_t milliseconds);
bool KillTimer(Handle window, std::uintptr_t id);
Handle LoadIconW(Handle instance, std::uintptr_t resourceId);
Handle LoadImageW(Handle instance, std::uintptr_t resourceId, std::uint32_t type, std::int32_t width,
                  std::int32_t height, std::uint32_t flags);
std::int32_t GetSystemMetrics(std::uint32_t index);
Handle CreatePopupMenu();
bool AppendMenuW(Handle menu, std::uint32_t flags, std::uintptr_t idOrSubmenu, const std::u16string& text);
bool GetCursorPos(Point* point);
bool SetForegroundWindow(Handle window);
std::int32_t TrackPopupMenu(Handle menu, std::uint32_t flags, std::int32_t x, std::int32_t y, Handle window);
bool DestroyMenu(Handle menu);
std::int32_t MessageBoxW(Handle owner, const std::u16string& text, const std::u16string& caption, std::uint32_t type);

// shell32.
bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData& data);

// kernel32: synchronisation and threads.
void InitializeCriticalSection(CriticalSection* section);
void EnterCriticalSection(CriticalSection* section);
void LeaveCriticalSection(CriticalSection* section);
void DeleteCriticalSection(CriticalSection* section);
Handle CreateEventW(bool manualReset, bool initialState);
bool SetEvent(Handle event);
bool ResetEvent(Handle event);
std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds);
std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* objects, bool waitAll,
                                     std::uint32_t milliseconds);
void Sleep(std::uint32_t milliseconds);
std::uint64_t GetTickCount64();
using ThreadProc = std::uint32_t (*)(void* parameter);
Handle CreateThread(std::size_t stackSize, ThreadProc start, void* parameter, std::uint32_t creationFlags);
bool CloseHandle(Handle object);
std::uint32_t GetLastError();

// kernel32: drives, devices and files.
std::uint32_t GetLogicalDrives();
std::uint32_t GetDriveTypeW(const std::u16string& rootPath);
std::uint32_t QueryDosDeviceW(const std::u16string& deviceName, char16_t* targetPath, std::uint32_t size);
bool GetFileAttributesExW(const std::u16string& path, std::uint32_t infoLevel, FileAttributeData* data);
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes);
Handle CreateFileW(const std::u16string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes);
bool ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead);
bool WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite, std::uint32_t* bytesWritten);
bool FlushFileBuffers(Handle file);
bool SetFileTime(Handle file, const FileTime* creationTime, const FileTime* lastAccessTime,
                 const FileTime* lastWriteTime);
std::uint32_t GetShortPathNameW(const std::u16string& longPath, char16_t* buffer, std::uint32_t size);
bool DeleteFileW(const std::u16string& path);
bool CreateDirectoryW(const std::u16string& path);
bool RemoveDirectoryW(const std::u16string& path);
bool MoveFileExW(const std::u16string& existing, const std::u16string& replacement, std::uint32_t flags);
bool DeviceIoControl(Handle device, std::uint32_t controlCode, const void* in, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* bytesReturned);
void* VirtualAlloc(void* address, std::size_t size, std::uint32_t allocationType, std::uint32_t protect);
bool VirtualFree(void* address, std::size_t size, std::uint32_t freeType);

// shell32 / ole32: the roaming application-data folder. On success `path`
// receives the folder; `taskMemory` is what CoTaskMemFree must release (null
// when the lookup handed back nothing).
enum class KnownFolder { RoamingAppData };
std::int32_t SHGetKnownFolderPath(KnownFolder folder, std::uint32_t flags, std::u16string* path, void** taskMemory);
void CoTaskMemFree(void* memory);

// advapi32: the registry. Results are Win32 error codes (ErrorSuccess = 0).
std::int32_t RegOpenKeyExW(Handle root, const std::u16string& subKey, std::uint32_t options, std::uint32_t access,
                           Handle* key);
std::int32_t RegQueryValueExW(Handle key, const std::u16string& name, std::uint32_t* type, void* data,
                              std::uint32_t* size);
std::int32_t RegSetValueExW(Handle key, const std::u16string& name, std::uint32_t type, const void* data,
                            std::uint32_t size);
std::int32_t RegDeleteValueW(Handle key, const std::u16string& name);
std::int32_t RegCloseKey(Handle key);

}  // namespace platform
