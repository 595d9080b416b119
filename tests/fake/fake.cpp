#include "tests/fake/fake.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numeric>
#include <stdexcept>

#include "platform/platform.h"

using namespace platform;

namespace {

struct Object {
    std::u16string Path;  // file, device, registry key or "menu"; empty for events and the like
    std::uint32_t Access = 0, Flags = 0;
    bool ManualReset = false, Signalled = false;
    std::uint64_t Position = 0;
    bool KeepsLastAccess = false;
};

std::map<std::uintptr_t, Object> Objects;
std::uintptr_t NextHandle = 0x100;
thread_local int SectionsHeld = 0;
thread_local std::uint32_t LastError = 0;

Handle New(Object object) { return Objects[NextHandle] = std::move(object), reinterpret_cast<Handle>(NextHandle++); }

std::u16string Decimal(std::uint32_t value) {
    const std::string digits = std::to_string(value);
    return {digits.begin(), digits.end()};
}

Object& Find(Handle handle) { return Objects.at(reinterpret_cast<std::uintptr_t>(handle)); }

template <typename T>
T Fail(std::uint32_t error, T result) {
    return LastError = error, result;
}

// Every call passes here: logged, then its faults decided. True when it must fail.
bool Begin(const std::string& name, const std::u16string& arg = u"", std::uint32_t* shortBy = nullptr) {
    if (SectionsHeld > 0)
        ++fake::LockViolations;
    fake::Calls.push_back(arg.empty() ? name : name + " " + fake::Utf8(arg));
    const int nth = int(std::count_if(fake::Calls.begin(), fake::Calls.end(),
                                      [&](auto& call) { return (call + " ").starts_with(name + " "); }));
    bool fail = false;
    const std::vector<fake::Fault> faults = fake::Faults;  // an action may change them
    for (const fake::Fault& f : faults) {
        if (f.Call != name || !(nth == f.Nth || (f.Sticky && nth > f.Nth)))
            continue;
        if (f.Before)
            f.Before();
        else if (f.ShortBy > 0 && shortBy != nullptr)
            *shortBy = f.ShortBy;
        else
            fail = true, LastError = f.Error;
    }
    return fail;
}

fake::Drive* DriveOf(const std::u16string& path) {  // "E:\..." or "\\.\E:"
    const char letter = char(path[path.starts_with(u"\\\\") ? 4 : 0]);
    return fake::Drives.contains(letter) ? &fake::Drives[letter] : nullptr;
}

}  // namespace

namespace fake {

void Reset() {
    Drives.clear(), Files.clear(), Faults.clear(), Calls.clear(), Timed.clear(), Menu.clear(), Objects.clear();
    Now = 0, BytesRead = 0, LastAccessStamps = 0, LockViolations = 0, Icon = {};
    ModulePath = u"C:\\Kestrun\\Kestrun.exe";
}

std::vector<std::u16string> OpenHandles() {
    std::vector<std::u16string> open;
    for (const auto& [id, o] : Objects)
        if (!o.Path.empty())
            open.push_back(o.Path);
    return open;
}

}  // namespace fake

namespace platform {

Handle CreateMutexW(bool, const std::u16string& name, std::uint32_t* error) {
    *error = Begin("CreateMutexW", name) ? LastError : 0;  // a failing call here: the mutex is someone else's
    return New({});
}

bool SetDefaultDllDirectories(std::uint32_t flags) { return !Begin("SetDefaultDllDirectories", Decimal(flags)); }
std::uint32_t SetErrorMode(std::uint32_t mode) { return Begin("SetErrorMode", Decimal(mode)); }
bool SetCurrentDirectoryW(const std::u16string& path) { return !Begin("SetCurrentDirectoryW", path); }

// As Windows does: a path that does not fit is cut to size - 1 units, and the size comes back.
std::uint32_t GetModuleFileNameW(Handle, char16_t* buffer, std::uint32_t size) {
    const std::size_t n = std::min<std::size_t>(fake::ModulePath.size(), size - 1);
    std::memcpy(buffer, fake::ModulePath.data(), n * 2);
    buffer[n] = 0;
    return n < fake::ModulePath.size() ? Fail(ErrorInsufficientBuffer, size) : static_cast<std::uint32_t>(n);
}

std::uint32_t GetWindowsDirectoryW(char16_t* to, std::uint32_t) { return std::memcpy(to, u"C:\\Windows", 22), 10; }
std::uint32_t GetSystemDirectoryW(char16_t* to, std::uint32_t) {
    return std::memcpy(to, u"C:\\Windows\\System32", 40), 19;
}

// The notification area, the menu and the window: answered and logged, no more.
Handle LoadIconW(Handle, std::uintptr_t) { return New({}); }
Handle LoadImageW(Handle, std::uintptr_t, std::uint32_t, std::int32_t, std::int32_t, std::uint32_t) { return New({}); }
std::int32_t GetSystemMetrics(std::uint32_t) { return 16; }
std::uintptr_t SetTimer(Handle, std::uintptr_t id, std::uint32_t) { return Begin("SetTimer") ? 0 : id; }
bool KillTimer(Handle, std::uintptr_t) { return !Begin("KillTimer"); }

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData& data) {
    if (Begin("Shell_NotifyIconW", message == NimAdd ? u"add" : message == NimModify ? u"modify" : u"delete"))
        return false;
    const fake::ShellIcon old = fake::Icon;  // what the shell keeps of the icon
    fake::Icon = {message != NimDelete, data.Flags & NifMessage ? data.CallbackMessage : old.Callback,
                  data.Flags & NifTip ? data.Tip : old.Tip};
    return true;
}
Handle CreatePopupMenu() { return Begin("CreatePopupMenu"), New({u"menu"}); }
bool AppendMenuW(Handle, std::uint32_t flags, std::uintptr_t id, const std::u16string& text) {
    const std::string mark = flags & MfChecked ? "x" : flags & MfSeparator ? "-" : flags & MfPopup ? ">" : " ";
    fake::Menu.push_back(mark + std::to_string(flags & MfPopup ? 0 : id) + " " + fake::Utf8(text));
    return true;
}
bool GetCursorPos(Point* point) { return *point = {640, 400}, true; }
bool SetForegroundWindow(Handle) { return !Begin("SetForegroundWindow"); }
std::int32_t TrackPopupMenu(Handle, std::uint32_t flags, std::int32_t x, std::int32_t y, Handle) {
    return Begin("TrackPopupMenu", Decimal(flags) + u" " + Decimal(x) + u" " + Decimal(y)), 0;
}
bool DestroyMenu(Handle) {  // the submenus go with the menu
    std::erase_if(Objects, [](auto& o) { return o.second.Path == u"menu"; });
    return !Begin("DestroyMenu");
}
bool PostMessageW(Handle, std::uint32_t message, std::uintptr_t, std::intptr_t) {
    return !Begin("PostMessageW", Decimal(message));
}
std::int32_t MessageBoxW(Handle, const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
    return Begin("MessageBoxW", caption + u" " + Decimal(type) + u" " + text), 1;
}
bool DestroyWindow(Handle) { return !Begin("DestroyWindow"); }
void PostQuitMessage(std::int32_t) { Begin("PostQuitMessage"); }
std::intptr_t DefWindowProcW(Handle, std::uint32_t message, std::uintptr_t, std::intptr_t) {
    return Begin("DefWindowProcW"), message;
}

std::int32_t CoInitializeEx(std::uint32_t) { return 0; }

// Real locks, so that the race test under ThreadSanitizer means something.
void InitializeCriticalSection(CriticalSection* s) { new (s->Storage) std::mutex; }
void EnterCriticalSection(CriticalSection* s) { reinterpret_cast<std::mutex*>(s->Storage)->lock(), ++SectionsHeld; }
void LeaveCriticalSection(CriticalSection* s) { --SectionsHeld, reinterpret_cast<std::mutex*>(s->Storage)->unlock(); }
void DeleteCriticalSection(CriticalSection* s) { reinterpret_cast<std::mutex*>(s->Storage)->~mutex(); }

Handle CreateEventW(bool manualReset, bool initialState) { return New({u"", 0, 0, manualReset, initialState}); }
bool SetEvent(Handle event) { return Begin("SetEvent"), Find(event).Signalled = true; }
bool ResetEvent(Handle event) { return !(Find(event).Signalled = false); }

// The clock moves only while every object waited on is unset, running the
// timed actions it passes on the way to the deadline.
std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* objects, bool, std::uint32_t ms) {
    if (fake::Calls.size() > 100000)
        throw std::runtime_error("the program spins");
    if (Begin(count == 1 ? "WaitForSingleObject" : "WaitForMultipleObjects"))
        return WaitFailed;
    const std::uint64_t deadline = ms == Infinite ? UINT64_MAX : fake::Now + ms;
    for (;;) {
        for (std::uint32_t i = 0; i < count; ++i) {
            Object& o = Find(objects[i]);
            if (o.Signalled) {
                o.Signalled = o.ManualReset;
                return WaitObject0 + i;
            }
        }
        if (fake::Timed.empty() || fake::Timed.begin()->first > deadline) {
            fake::Now = deadline;
            return WaitTimeout;
        }
        const auto next = fake::Timed.extract(fake::Timed.begin());
        fake::Now = std::max(fake::Now, next.key());
        next.mapped()();
    }
}

std::uint32_t WaitForSingleObject(Handle h, std::uint32_t ms) { return WaitForMultipleObjects(1, &h, false, ms); }

void Sleep(std::uint32_t ms) { Begin("Sleep"), fake::Now += ms; }

bool CloseHandle(Handle object) {
    return Begin("CloseHandle"), Objects.erase(reinterpret_cast<std::uintptr_t>(object));
}

std::uint32_t GetLastError() { return LastError; }

std::uint32_t GetLogicalDrives() {
    return std::accumulate(fake::Drives.begin(), fake::Drives.end(), 0u,
                           [](std::uint32_t mask, auto& drive) { return mask | 1u << (drive.first - 'A'); });
}

std::uint32_t GetDriveTypeW(const std::u16string& root) {
    return Begin("GetDriveTypeW", root), DriveOf(root) == nullptr ? DriveNoRootDir : DriveOf(root)->Type;
}

std::uint32_t GetFileAttributesW(const std::u16string& path) {
    if (Begin("GetFileAttributesW", path) || !fake::Files.contains(path))
        return Fail(ErrorFileNotFound, InvalidFileAttributes);
    return fake::Files[path].Directory ? FileAttributeDirectory : fake::Files[path].Attributes;
}

bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    if (Begin("SetFileAttributesW", path) || !fake::Files.contains(path))
        return Fail(ErrorFileNotFound, false);
    fake::Files[path].Attributes = attributes;
    return true;
}

Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t, std::uint32_t disposition,
                   std::uint32_t flags) {
    const fake::Drive* drive = DriveOf(path);
    if (Begin("CreateFileW", path))
        return InvalidHandleValue;
    if (drive == nullptr)
        return Fail(ErrorPathNotFound, InvalidHandleValue);
    const bool device = path.starts_with(u"\\\\.\\"), exists = fake::Files.contains(path);
    const std::uint32_t old = exists ? fake::Files[path].Attributes | (fake::Files[path].Directory ? 0x10 : 0) : 0;
    if ((drive->ReadOnly && (access & (GenericWrite | FileWriteAttributes))) || (device && access != 0))
        return Fail(19u, InvalidHandleValue);
    if (disposition == CreateAlways) {
        // As Windows, no replacing a read-only file or a directory, nor dropping hidden or system.
        if ((old & (FileAttributeReadonly | FileAttributeDirectory)) || (old & 6 & ~flags))
            return Fail(5u, InvalidHandleValue);
        fake::Files[path] = {"", (flags & 7 ? flags & 7 : FileAttributeNormal) | (drive->Compressed ? 0x800 : 0)};
    } else if (!device && (!exists || (old & FileAttributeDirectory))) {
        return Fail(ErrorFileNotFound, InvalidHandleValue);
    }
    return New({path, access, flags});
}

bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
    Object& o = Find(file);
    if (Begin("ReadFile", o.Path))
        return false;
    // Unbuffered reads demand sector-aligned buffers and sizes, as on Windows.
    if ((o.Flags & FileFlagNoBuffering) && (reinterpret_cast<std::uintptr_t>(buffer) % 4096 || size % 512))
        return Fail(87u, false);
    const std::string& bytes = fake::Files[o.Path].Bytes;
    *read =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(size, bytes.size() - std::min(o.Position, bytes.size())));
    std::memcpy(buffer, bytes.data() + o.Position, *read);
    o.Position += *read;
    // Only an unbuffered read reaches the device; any other is answered from the cache.
    if (o.Flags & FileFlagNoBuffering)
        fake::BytesRead += *read;
    fake::LastAccessStamps += !o.KeepsLastAccess;
    return true;
}

bool WriteFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
    std::uint32_t shortBy = 0;
    if (Begin("WriteFile", Find(file).Path, &shortBy))
        return false;
    *written = size - shortBy;
    fake::Files[Find(file).Path].Bytes.append(static_cast<const char*>(buffer), *written);
    return true;
}

bool FlushFileBuffers(Handle) { return !Begin("FlushFileBuffers"); }

bool SetFileTime(Handle file, const FileTime*, const FileTime* lastAccess, const FileTime*) {
    Object& o = Find(file);
    if (Begin("SetFileTime") || !(o.Access & FileWriteAttributes))
        return Fail(5u, false);
    o.KeepsLastAccess = lastAccess != nullptr && lastAccess->LowDateTime == ~0u && lastAccess->HighDateTime == ~0u;
    return true;
}

std::uint32_t GetShortPathNameW(const std::u16string&, char16_t*, std::uint32_t) { return 0; }

bool DeleteFileW(const std::u16string& path) {
    if (Begin("DeleteFileW", path) || !fake::Files.contains(path))
        return Fail(ErrorFileNotFound, false);
    if (fake::Files[path].Attributes & (FileAttributeReadonly | FileAttributeDirectory))
        return Fail(5u, false);
    return fake::Files.erase(path);
}

bool CreateDirectoryW(const std::u16string& path) { return !Begin("CreateDirectoryW", path); }

bool MoveFileExW(const std::u16string& from, const std::u16string& to, std::uint32_t) {
    if (Begin("MoveFileExW", to) || !fake::Files.contains(from))
        return false;
    fake::Files[to] = fake::Files[from];
    return fake::Files.erase(from);
}

bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t, void* out, std::uint32_t,
                     std::uint32_t* returned) {
    Object& o = Find(device);
    if (Begin("DeviceIoControl", o.Path))
        return false;
    if (code != FsctlSetCompression) {
        std::memcpy(static_cast<char*>(out) + 28, &DriveOf(o.Path)->Bus, 4);
        return *returned = 40;
    }
    // As NTFS: switching compression off takes read and write access.
    if ((o.Access & (GenericRead | GenericWrite)) != (GenericRead | GenericWrite))
        return Fail(5u, false);
    std::uint32_t& attributes = fake::Files[o.Path].Attributes;
    attributes =
        *static_cast<const std::uint16_t*>(in) == CompressionFormatNone ? attributes & ~0x800u : attributes | 0x800;
    return true;
}

void* VirtualAlloc(void*, std::size_t size, std::uint32_t, std::uint32_t) { return std::aligned_alloc(4096, size); }
bool VirtualFree(void* address, std::size_t, std::uint32_t) { return std::free(address), true; }

std::int32_t SHGetKnownFolderPath(KnownFolder, std::uint32_t, std::u16string* path, void** taskMemory) {
    return *taskMemory = nullptr, *path = u"C:\\Users\\Tester\\AppData\\Roaming", 0;
}

void CoTaskMemFree(void*) {}

// No registry: the Run key is exercised on the real program under Wine.
std::int32_t RegOpenKeyExW(Handle, const std::u16string& subKey, std::uint32_t, std::uint32_t, Handle*) {
    return Begin("RegOpenKeyExW", subKey), 2;
}
std::int32_t RegQueryValueExW(Handle, const std::u16string&, std::uint32_t*, void*, std::uint32_t*) { return 2; }
std::int32_t RegSetValueExW(Handle, const std::u16string&, std::uint32_t, const void*, std::uint32_t) { return 5; }
std::int32_t RegDeleteValueW(Handle, const std::u16string&) { return 2; }
std::int32_t RegCloseKey(Handle) { return 0; }

}  // namespace platform
