#include "tests/fake/fake.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/platform.h"

using namespace platform;

namespace {

struct Object {
    std::u16string Path;  // file, device, or the kind: "menu", "event", "mutex"
    std::uint32_t Access = 0;
    std::uint32_t Flags = 0;  // a file's; 1 for a manual-reset event
    bool Signalled = false;
    std::uint64_t Position = 0;  // in a file; a menu's number
    bool KeepsLastAccess = false;
};

std::map<std::uintptr_t, Object> Objects;
std::uintptr_t NextHandle = 0x100;
thread_local int SectionsHeld = 0;
thread_local std::uint32_t LastError = 0;
thread_local bool Faulted = false;  // the last call was failed by a fault, with its error

Handle New(Object object) {
    Objects[NextHandle] = std::move(object);
    return reinterpret_cast<Handle>(NextHandle++);
}

Object& Find(Handle handle) { return Objects.at(reinterpret_cast<std::uintptr_t>(handle)); }
bool Close(Handle handle) { return Objects.erase(reinterpret_cast<std::uintptr_t>(handle)) > 0; }

std::u16string Decimal(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return {digits.begin(), digits.end()};
}

template <typename T>
T Fail(std::uint32_t error, T result) {
    LastError = Faulted ? LastError : error;
    return result;
}

std::uint32_t Copy(char16_t* to, std::u16string_view text) {
    std::copy(text.begin(), text.end(), to);
    to[text.size()] = 0;
    return static_cast<std::uint32_t>(text.size());
}

// Every call passes here: logged, then its faults decided. True when it must fail.
bool Begin(const std::string& name, const std::u16string& arg = u"", std::uint32_t* shortBy = nullptr) {
    if (SectionsHeld > 0)
        ++fake::LockViolations;
    const std::string call = arg.empty() ? name : name + " " + fake::Ascii(arg);
    fake::Calls.push_back(call);
    bool fail = false;
    const std::vector<fake::Fault> faults = fake::Faults;  // an action may change them
    for (const fake::Fault& f : faults) {
        const auto nth =
            std::ranges::count_if(fake::Calls, [&](const std::string& c) { return c.starts_with(f.Call); });
        if (!call.starts_with(f.Call) || nth < f.Nth || nth - f.Nth >= f.Times)
            continue;
        if (f.Before) {
            f.Before();
        } else if (f.ShortBy > 0 && shortBy != nullptr) {
            *shortBy = f.ShortBy;
        } else {
            fail = true;
            LastError = f.Error;
        }
    }
    Faulted = fail;
    return fail;
}

fake::Drive* DriveOf(const std::u16string& path) {  // "E:\..." or "\\.\E:"
    const char letter = char(path[path.starts_with(u"\\\\") ? 4 : 0]);
    return fake::Drives.contains(letter) ? &fake::Drives[letter] : nullptr;
}

std::u16string FolderOf(const std::u16string& path) { return path.substr(0, path.rfind(u'\\')); }

}  // namespace

namespace fake {

void Reset() {
    Drives.clear();
    Files.clear();
    Faults.clear();
    Calls.clear();
    Timed.clear();
    Timers.clear();
    Menu.clear();
    Objects.clear();
    Now = 0;
    BytesRead = 0;
    LockViolations = 0;
}

std::string OpenHandles() {
    std::u16string open;
    for (const auto& [id, o] : Objects)
        if (!o.Path.empty())
            open += (open.empty() ? u"" : u" ") + o.Path;
    return Ascii(open);
}

std::string Ascii(const std::u16string& text) { return {text.begin(), text.end()}; }

}  // namespace fake

namespace platform {

// The process.
Handle CreateMutexW(bool, const std::u16string& name, std::uint32_t* error) {
    *error = Begin("CreateMutexW", name) ? LastError : 0;  // a failing call here: the mutex is someone else's
    return New({u"mutex"});
}

bool SetDefaultDllDirectories(std::uint32_t flags) { return !Begin("SetDefaultDllDirectories", Decimal(flags)); }
std::uint32_t SetErrorMode(std::uint32_t mode) { return Begin("SetErrorMode", Decimal(mode)); }
std::int32_t RegisterApplicationRestart(const std::u16string& arguments, std::uint32_t flags) {
    return Begin("RegisterApplicationRestart", arguments + u" " + Decimal(flags)) ? -1 : 0;
}
std::int32_t UnregisterApplicationRestart() { return Begin("UnregisterApplicationRestart") ? -1 : 0; }
bool SetCurrentDirectoryW(const std::u16string& path) { return !Begin("SetCurrentDirectoryW", path); }
// As some systems spell it.
std::uint32_t GetSystemWindowsDirectoryW(char16_t* to, std::uint32_t) { return Copy(to, u"c:\\windows"); }
std::uint32_t GetSystemDirectoryW(char16_t* to, std::uint32_t) { return Copy(to, u"C:\\Windows\\System32"); }

std::uint32_t GetModuleFileNameW(Handle, char16_t* to, std::uint32_t) { return Copy(to, u"C:\\K\\Kestrun.exe"); }

std::int32_t CoInitializeEx(std::uint32_t) { return 0; }

// The window, the shell and the menu: answered and logged, no more.
bool DestroyWindow(Handle) { return !Begin("DestroyWindow"); }
void PostQuitMessage(std::int32_t) { Begin("PostQuitMessage"); }
bool PostMessageW(Handle, std::uint32_t message, std::uintptr_t, std::intptr_t) {
    return !Begin("PostMessageW", Decimal(message));
}
std::intptr_t DefWindowProcW(Handle, std::uint32_t message, std::uintptr_t, std::intptr_t) { return message; }
std::int32_t MessageBoxW(Handle, const std::u16string&, const std::u16string&, std::uint32_t) { return 1; }
Handle LoadIconW(Handle, std::uintptr_t) { return New({}); }
Handle LoadImageW(Handle, std::uintptr_t, std::uint32_t, std::int32_t, std::int32_t, std::uint32_t) { return New({}); }
// Icons are 16 pixels; a fault says the session is shutting down.
std::int32_t GetSystemMetrics(std::uint32_t index) {
    return Begin("GetSystemMetrics", Decimal(index)) ? 1 : index == SmShuttingDown ? 0 : 16;
}
std::uintptr_t SetTimer(Handle, std::uintptr_t id, std::uint32_t ms) {
    return fake::Timers.insert_or_assign(id, ms).first->first;
}
bool KillTimer(Handle, std::uintptr_t id) { return fake::Timers.erase(id) > 0; }

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData&) {
    return !Begin("Shell_NotifyIconW", Decimal(message));
}

Handle CreatePopupMenu() {
    Begin("CreatePopupMenu");
    return New({.Path = u"menu", .Position = std::uint64_t(std::ranges::count(fake::Calls, "CreatePopupMenu"))});
}

// The menu's number, check mark, command (or the submenu's number), text.
bool AppendMenuW(Handle menu, std::uint32_t flags, std::uintptr_t id, const std::u16string& text) {
    const char16_t* mark = flags & MfChecked ? u"x" : flags & MfSeparator ? u"-" : flags & MfPopup ? u">" : u" ";
    const std::uint64_t item = flags & MfPopup ? Find(reinterpret_cast<Handle>(id)).Position : id;
    fake::Menu.push_back(Decimal(Find(menu).Position) + u" " + mark + Decimal(item) + u" " + text);
    return true;
}

bool GetCursorPos(Point* point) {
    *point = {640, 400};
    return true;
}

bool SetForegroundWindow(Handle) { return !Begin("SetForegroundWindow"); }

std::int32_t TrackPopupMenu(Handle, std::uint32_t flags, std::int32_t x, std::int32_t y, Handle) {
    return Begin("TrackPopupMenu", Decimal(flags) + u" " + Decimal(x) + u" " + Decimal(y)) ? 0 : 1;
}

bool DestroyMenu(Handle) {  // the submenus go with the menu
    std::erase_if(Objects, [](const auto& o) { return o.second.Path == u"menu"; });
    return !Begin("DestroyMenu");
}

// Real locks, so that the race test under ThreadSanitizer means something.
void InitializeCriticalSection(CriticalSection* s) { new (s->Storage) std::mutex; }
void DeleteCriticalSection(CriticalSection* s) { reinterpret_cast<std::mutex*>(s->Storage)->~mutex(); }

void EnterCriticalSection(CriticalSection* s) {
    reinterpret_cast<std::mutex*>(s->Storage)->lock();
    ++SectionsHeld;
}

void LeaveCriticalSection(CriticalSection* s) {
    --SectionsHeld;
    reinterpret_cast<std::mutex*>(s->Storage)->unlock();
}

// Events and waits.
Handle CreateEventW(bool manualReset, bool initialState) {
    return New({.Path = u"event", .Flags = manualReset, .Signalled = initialState});
}

bool SetEvent(Handle event) { return Find(event).Signalled = true; }

bool ResetEvent(Handle event) {
    Find(event).Signalled = false;
    return true;
}

// The clock moves only while every object waited on is unset, running the
// timed actions it passes on the way to the deadline.
std::uint32_t Wait(std::uint32_t count, const Handle* objects, std::uint32_t ms) {
    if (fake::Calls.size() > 10000)
        throw std::runtime_error("the program spins");
    const std::uint64_t deadline = ms == Infinite ? UINT64_MAX : fake::Now + ms;
    for (;;) {
        for (std::uint32_t i = 0; i < count; ++i) {
            Object& o = Find(objects[i]);
            if (o.Signalled) {
                o.Signalled = o.Flags != 0;
                return WaitObject0 + i;
            }
        }
        if (fake::Timed.empty() || fake::Timed.begin()->first > deadline) {
            fake::Now = std::max(fake::Now, deadline);
            return WaitTimeout;
        }
        auto next = fake::Timed.extract(fake::Timed.begin());
        fake::Now = std::max(fake::Now, next.key());
        next.mapped()();
    }
}

std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* objects, bool, std::uint32_t ms) {
    return Begin("WaitForMultipleObjects") ? WaitFailed : Wait(count, objects, ms);
}

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t ms) {
    return WaitForMultipleObjects(1, &object, false, ms);
}

void Sleep(std::uint32_t ms) {
    Begin("Sleep");
    Wait(0, nullptr, ms);
}

std::uint64_t GetTickCount64() { return fake::Now; }

bool CloseHandle(Handle object) {
    Begin("CloseHandle");
    return Close(object);
}

std::uint32_t GetLastError() { return LastError; }

// Drives, devices and files.
std::uint32_t GetLogicalDrives() {
    std::uint32_t mask = 0;
    for (const auto& [letter, drive] : fake::Drives)
        mask |= 1u << (letter - 'A');
    return mask;
}

std::uint32_t GetDriveTypeW(const std::u16string& root) {
    Begin("GetDriveTypeW", root);
    return DriveOf(root) == nullptr ? DriveNoRootDir : DriveOf(root)->Type;
}

std::uint32_t QueryDosDeviceW(const std::u16string& name, char16_t* to, std::uint32_t) {
    if (Begin("QueryDosDeviceW", name) || DriveOf(name) == nullptr || name.size() != 2)  // "E:", no backslash
        return Fail(ErrorFileNotFound, 0u);
    return Copy(to, DriveOf(name)->Subst ? u"\\??\\C:\\Users\\Tester\\Media" : u"\\Device\\HarddiskVolume3") + 2;
}

bool GetFileAttributesExW(const std::u16string& path, std::uint32_t, FileAttributeData* data) {
    if (Begin("GetFileAttributesExW", path) || !fake::Files.contains(path))
        return Fail(ErrorFileNotFound, false);
    *data = {fake::Files[path].Attributes, fake::Files[path].Bytes.size()};
    return true;
}

bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    if (Begin("SetFileAttributesW", path) || !fake::Files.contains(path))
        return Fail(ErrorFileNotFound, false);
    fake::Files[path].Attributes = attributes | (fake::Files[path].Attributes & FileAttributeDirectory);
    return true;
}

Handle CreateFileW(const std::u16string& path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                   std::uint32_t flags) {
    const fake::Drive* drive = DriveOf(path);
    if (Begin("CreateFileW", path))
        return InvalidHandleValue;
    if (drive == nullptr)
        return Fail(ErrorPathNotFound, InvalidHandleValue);
    const bool device = path.starts_with(u"\\\\.\\");
    const std::uint32_t old = fake::Files.contains(path) ? fake::Files[path].Attributes : 0;
    if ((drive->ReadOnly && (access & (GenericWrite | FileWriteAttributes))) || (device && access != 0))
        return Fail(19u, InvalidHandleValue);
    // A mounted volume is open for writing by its file system, and so may be a file by another program.
    if ((device || (fake::Files.contains(path) && fake::Files[path].Written)) && !(share & FileShareWrite))
        return Fail(ErrorSharingViolation, InvalidHandleValue);
    // As the root of a disk that once held Windows: new files only inside folders that are there.
    if (disposition == CreateAlways && drive->FilesOnlyInFolders && !fake::Files.contains(FolderOf(path)))
        return Fail(FolderOf(path).size() == 2 ? 5u : ErrorPathNotFound, InvalidHandleValue);
    if (disposition == CreateAlways) {
        const std::uint32_t given = flags & 7 ? flags & 7 : FileAttributeNormal;
        fake::Files[path] = {"", given | (drive->Compressed ? FileAttributeCompressed : 0)};
    } else if (!device && (!fake::Files.contains(path) || (old & FileAttributeDirectory))) {
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
    const std::uint64_t at = std::min<std::uint64_t>(o.Position, bytes.size());
    *read = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, bytes.size() - at));
    std::memcpy(buffer, bytes.data() + at, *read);
    o.Position += *read;
    // Only an unbuffered read reaches the device; any other is answered from the cache. One that
    // leaves its last-access time to be written back writes to a writable disk: it does not count.
    if ((o.Flags & FileFlagNoBuffering) && (o.KeepsLastAccess || DriveOf(o.Path)->ReadOnly))
        fake::BytesRead += *read;
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
    return fake::Files.erase(path) > 0;
}

bool CreateDirectoryW(const std::u16string& path) {
    if (Begin("CreateDirectoryW", path) || fake::Files.contains(path))
        return Fail(ErrorAlreadyExists, false);
    fake::Files[path] = {"", FileAttributeDirectory};
    return true;
}

bool RemoveDirectoryW(const std::u16string& path) {
    const auto next = fake::Files.upper_bound(path);  // the first thing inside it, if any
    if (Begin("RemoveDirectoryW", path) || (next != fake::Files.end() && next->first.starts_with(path + u"\\")))
        return false;
    return fake::Files.erase(path) > 0;
}

bool MoveFileExW(const std::u16string& from, const std::u16string& to, std::uint32_t flags) {
    if (Begin("MoveFileExW", to + u" " + Decimal(flags)) || !fake::Files.contains(from))
        return false;
    if (fake::Files[from].Written)
        return Fail(ErrorSharingViolation, false);
    fake::Files[to] = fake::Files[from];
    return fake::Files.erase(from) > 0;
}

// The storage query answers the drive's bus; switching compression off takes read and write access, as on NTFS.
bool DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t, void* out, std::uint32_t,
                     std::uint32_t* returned) {
    Object& o = Find(device);
    if (Begin("DeviceIoControl", o.Path))
        return false;
    if (code != FsctlSetCompression) {
        std::memcpy(static_cast<char*>(out) + 28, &DriveOf(o.Path)->Bus, 4);
        *returned = 40;
        return true;
    }
    if ((o.Access & (GenericRead | GenericWrite)) != (GenericRead | GenericWrite))
        return Fail(5u, false);
    const bool compress = *static_cast<const std::uint16_t*>(in) != CompressionFormatNone;
    std::uint32_t& attributes = fake::Files[o.Path].Attributes;
    attributes = compress ? attributes | FileAttributeCompressed : attributes & ~FileAttributeCompressed;
    return true;
}

void* VirtualAlloc(void*, std::size_t size, std::uint32_t, std::uint32_t) { return std::aligned_alloc(4096, size); }

bool VirtualFree(void* address, std::size_t, std::uint32_t) {
    std::free(address);
    return true;
}

std::int32_t SHGetKnownFolderPath(KnownFolder, std::uint32_t, std::u16string* path, void** taskMemory) {
    *taskMemory = nullptr;
    *path = u"C:\\Users\\Tester\\AppData\\Roaming";
    return 0;
}

void CoTaskMemFree(void*) {}

// No registry: the Run key is exercised on the real program under Wine.
std::int32_t RegOpenKeyExW(Handle, const std::u16string& subKey, std::uint32_t, std::uint32_t, Handle*) {
    return Begin("RegOpenKeyExW", subKey) ? 5 : 2;  // there is no such key
}
std::int32_t RegQueryValueExW(Handle, const std::u16string&, std::uint32_t*, void*, std::uint32_t*) { return 2; }
std::int32_t RegSetValueExW(Handle, const std::u16string&, std::uint32_t, const void*, std::uint32_t) { return 5; }
std::int32_t RegDeleteValueW(Handle, const std::u16string&) { return 2; }
std::int32_t RegCloseKey(Handle) { return 0; }

}  // namespace platform
