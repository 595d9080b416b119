#include "tests/fake/fake.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace {

using platform::Handle;

enum class Kind { Event, Thread, File, Device, Key, Mutex, Window, Menu };

struct Object {
    Kind kind = Kind::Event;
    bool manualReset = false;
    bool signalled = false;
    std::u16string path;  // file key, registry key, or the device's letter
    bool noBuffering = false;
    bool canWrite = false;
    std::uint64_t position = 0;
    std::unique_ptr<std::thread> thread;
    platform::WindowProc procedure = nullptr;
    std::vector<fake::MenuEntry> items;  // a menu's items; popups refer to submenus by Id
};

struct Entry {
    fake::File file;
    bool directory = false;
};

struct RegValue {
    std::uint32_t type = 0;
    std::string bytes;
};

struct Fault {
    std::string name;
    int nth = 0;
    bool sticky = false;
    std::uint32_t shortBy = 0;
    std::function<void()> before;
    std::uint32_t error = 0;
};

struct State {
    std::map<char, fake::Drive> drives;
    std::map<std::u16string, Entry> entries;
    std::map<std::u16string, std::map<std::u16string, RegValue>> registry;
    std::u16string knownFolder = u"C:\\Users\\Tester\\AppData\\Roaming";
    std::map<std::uintptr_t, Object> objects;
    std::uintptr_t nextHandle = 0x100;
    std::vector<fake::Call> calls;
    std::map<std::string, int> callCounts;
    std::vector<Fault> faults;
    std::uint64_t bytesWritten = 0;
    std::uint64_t now = 0;
    int blocked = 0;
    int blockedWaits = 0;  // waits that had to block at least once
    std::vector<std::uint32_t> timeouts;
    int hangGeneration = 0;
    int lockViolations = 0;
    std::map<void*, std::size_t> allocations;
    std::u16string modulePath = u"C:\\Program Files\\Kestrun\\Kestrun.exe";
    std::u16string windowsDirectory = u"C:\\Windows";
    std::map<std::u16string, int> mutexes;
    std::map<std::u16string, platform::WindowProc> classes;
    std::deque<platform::Message> queue;
    std::vector<std::uint32_t> posted;
    std::vector<std::vector<fake::MenuEntry>> shownMenus;
    std::vector<fake::Notification> notifications;
    std::vector<fake::Box> boxes;
};

std::mutex M;
std::condition_variable Changed;
State S;
thread_local int SectionsHeld = 0;
thread_local std::uint32_t LastError = 0;
thread_local bool OnFakeThread = false;  // started by the fake's CreateThread

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::u16string Key(std::u16string path) {
    for (char16_t& c : path)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return path;
}

char DriveOf(const std::u16string& key) {
    if (key.size() >= 2 && key[1] == u':' && key[0] >= u'A' && key[0] <= u'Z')
        return static_cast<char>(key[0]);
    return 'C';  // a rooted path without a letter lies on the current drive
}

// Every call passes here first: logged, counted, hooks run, faults decided.
struct Outcome {
    bool fail = false;
    std::uint32_t shortBy = 0;
};

Outcome Begin(const std::string& name, const std::u16string& arg = u"") {
    std::vector<std::function<void()>> hooks;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(M);
        if (SectionsHeld > 0 && name.find("CriticalSection") == std::string::npos)
            ++S.lockViolations;
        S.calls.push_back({name, Utf8(arg)});
        const int count = ++S.callCounts[name];
        for (Fault& f : S.faults) {
            if (f.name != name)
                continue;
            if (f.before) {
                if (count == f.nth)
                    hooks.push_back(f.before);
            } else if (count == f.nth || (f.sticky && count > f.nth)) {
                if (f.shortBy > 0) {
                    outcome.shortBy = f.shortBy;
                } else {
                    outcome.fail = true;
                    LastError = f.error;
                }
            }
        }
    }
    for (auto& hook : hooks)
        hook();
    return outcome;
}

Handle NewObject(Object object) {
    const std::uintptr_t id = S.nextHandle;
    S.nextHandle += 4;
    S.objects.emplace(id, std::move(object));
    return reinterpret_cast<Handle>(id);
}

Object* Find(Handle handle, Kind kind) {
    auto it = S.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == S.objects.end() || it->second.kind != kind)
        return nullptr;
    return &it->second;
}

fake::Drive* DriveFor(const std::u16string& key) {
    auto it = S.drives.find(DriveOf(key));
    return it == S.drives.end() ? nullptr : &it->second;
}

bool IsRoot(const std::u16string& key) { return key.size() <= 3 && key.size() >= 2 && key[1] == u':'; }

bool ParentExists(const std::u16string& key) {
    const std::size_t slash = key.rfind(u'\\');
    if (slash == std::u16string::npos || slash == 0)
        return true;
    const std::u16string parent = key.substr(0, slash);
    if (IsRoot(parent))
        return true;
    auto it = S.entries.find(parent);
    return it != S.entries.end() && it->second.directory;
}

bool Writable(const std::u16string& key) {
    fake::Drive* drive = DriveFor(key);
    return drive != nullptr && !drive->WriteProtected;
}

std::uint32_t Fail(std::uint32_t error) {
    LastError = error;
    return 0;
}

void Block(std::unique_lock<std::mutex>& lock, bool& first) {
    if (first)
        ++S.blockedWaits;
    first = false;
    ++S.blocked;
    Changed.notify_all();
    Changed.wait(lock);
    --S.blocked;
}

// A wait over events and threads on the virtual clock.
std::uint32_t WaitOn(std::uint32_t count, const Handle* handles, std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(M);
    S.timeouts.push_back(ms);
    for (std::uint32_t i = 0; i < count; ++i)
        if (Find(handles[i], Kind::Event) == nullptr && Find(handles[i], Kind::Thread) == nullptr) {
            Changed.notify_all();
            return platform::WaitFailed;
        }
    const std::uint64_t deadline = ms == platform::Infinite ? UINT64_MAX : S.now + ms;
    bool first = true;
    for (;;) {
        for (std::uint32_t i = 0; i < count; ++i) {
            Object* o = Find(handles[i], Kind::Event);
            if (o == nullptr)
                o = Find(handles[i], Kind::Thread);
            if (o->signalled) {
                if (o->kind == Kind::Event && !o->manualReset)
                    o->signalled = false;
                Changed.notify_all();
                return platform::WaitObject0 + i;
            }
        }
        if (S.now >= deadline) {
            Changed.notify_all();
            return platform::WaitTimeout;
        }
        Block(lock, first);
    }
}

std::vector<fake::MenuEntry> Snapshot(Handle menu) {
    Object* o = Find(menu, Kind::Menu);
    if (o == nullptr)
        return {};
    std::vector<fake::MenuEntry> items = o->items;
    for (fake::MenuEntry& e : items)
        if (e.Flags & platform::MfPopup)
            e.Submenu = Snapshot(reinterpret_cast<Handle>(e.Id));
    return items;
}

void DestroyMenuTree(Handle menu) {
    Object* o = Find(menu, Kind::Menu);
    if (o == nullptr)
        return;
    const std::vector<fake::MenuEntry> items = o->items;
    S.objects.erase(reinterpret_cast<std::uintptr_t>(menu));
    for (const fake::MenuEntry& e : items)
        if (e.Flags & platform::MfPopup)
            DestroyMenuTree(reinterpret_cast<Handle>(e.Id));
}

void PostLocked(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    S.queue.push_back(platform::Message{window, message, wParam, lParam});
    S.posted.push_back(message);
    Changed.notify_all();
}

struct Trampoline {
    platform::ThreadProc start;
    void* parameter;
    std::uintptr_t id;
};

}  // namespace

namespace fake {

void Reset() {
    std::vector<std::unique_ptr<std::thread>> threads;
    {
        std::lock_guard<std::mutex> lock(M);
        for (auto& [id, o] : S.objects)
            if (o.thread)
                threads.push_back(std::move(o.thread));
    }
    for (auto& t : threads)
        if (t->joinable())
            t->join();
    std::lock_guard<std::mutex> lock(M);
    for (auto& [p, size] : S.allocations)
        std::free(p);
    S = State{};
}

void AddDrive(char letter, Drive drive) {
    std::lock_guard<std::mutex> lock(M);
    S.drives[letter] = drive;
}

void RemoveDrive(char letter) {
    std::lock_guard<std::mutex> lock(M);
    S.drives.erase(letter);
}

void PutFile(const std::u16string& path, File file) {
    std::lock_guard<std::mutex> lock(M);
    S.entries[Key(path)] = Entry{std::move(file), false};
}

void PutDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    Entry e;
    e.directory = true;
    e.file.Attributes = platform::FileAttributeDirectory;
    S.entries[Key(path)] = e;
}

bool HasFile(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    auto it = S.entries.find(Key(path));
    return it != S.entries.end() && !it->second.directory;
}

File GetFile(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    auto it = S.entries.find(Key(path));
    if (it == S.entries.end() || it->second.directory)
        return File{0, "", false};
    return it->second.file;
}

bool HasDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    auto it = S.entries.find(Key(path));
    return it != S.entries.end() && it->second.directory;
}

void RemovePath(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    S.entries.erase(Key(path));
}

void SetKnownFolder(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    S.knownFolder = path;
}

void PutRegistryKey(const std::u16string& key) {
    std::lock_guard<std::mutex> lock(M);
    S.registry[Key(key)];
}

void PutRegistryValue(const std::u16string& key, const std::u16string& name, std::uint32_t type,
                      const std::string& bytes) {
    std::lock_guard<std::mutex> lock(M);
    S.registry[Key(key)][Key(name)] = RegValue{type, bytes};
}

bool GetRegistryValue(const std::u16string& key, const std::u16string& name, std::uint32_t* type,
                      std::string* bytes) {
    std::lock_guard<std::mutex> lock(M);
    auto k = S.registry.find(Key(key));
    if (k == S.registry.end())
        return false;
    auto v = k->second.find(Key(name));
    if (v == k->second.end())
        return false;
    *type = v->second.type;
    *bytes = v->second.bytes;
    return true;
}

void FailCall(const std::string& name, int nth, bool sticky, std::uint32_t shortBy, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(M);
    S.faults.push_back(Fault{name, S.callCounts[name] + nth, sticky, shortBy, nullptr, error});
}

void BeforeCall(const std::string& name, int nth, std::function<void()> action) {
    std::lock_guard<std::mutex> lock(M);
    S.faults.push_back(Fault{name, S.callCounts[name] + nth, false, 0, std::move(action), 0});
}

std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(M);
    return S.calls;
}

int CountCalls(const std::string& name, const std::string& argContains) {
    std::lock_guard<std::mutex> lock(M);
    return static_cast<int>(std::count_if(S.calls.begin(), S.calls.end(), [&](const Call& c) {
        return c.Name == name && c.Arg.find(argContains) != std::string::npos;
    }));
}

void ClearCalls() {
    std::lock_guard<std::mutex> lock(M);
    S.calls.clear();
    S.bytesWritten = 0;
}

std::uint64_t BytesWritten() {
    std::lock_guard<std::mutex> lock(M);
    return S.bytesWritten;
}

void AdvanceClock(std::uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(M);
    S.now += milliseconds;
    Changed.notify_all();
}

bool AwaitBlockedWaits(int count) {
    std::unique_lock<std::mutex> lock(M);
    return Changed.wait_for(lock, std::chrono::seconds(10),
                            [&] { return S.blockedWaits >= count && S.blocked > 0; });
}

std::vector<std::uint32_t> WaitTimeouts() {
    std::lock_guard<std::mutex> lock(M);
    return S.timeouts;
}

void ReleaseHungReads() {
    std::lock_guard<std::mutex> lock(M);
    ++S.hangGeneration;
    for (auto& [key, entry] : S.entries)
        entry.file.HangReads = false;
    Changed.notify_all();
}

int OpenHandleCount(const std::string& pathContains) {
    std::lock_guard<std::mutex> lock(M);
    int n = 0;
    for (auto& [id, o] : S.objects)
        if (o.kind == Kind::File && Utf8(o.path).find(pathContains) != std::string::npos)
            ++n;
    return n;
}

void SetModulePath(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    S.modulePath = path;
}

void SetWindowsDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(M);
    S.windowsDirectory = path;
}

void PutMutex(const std::u16string& name) {
    std::lock_guard<std::mutex> lock(M);
    ++S.mutexes[name];
}

bool HasMutex(const std::u16string& name) {
    std::lock_guard<std::mutex> lock(M);
    return S.mutexes.count(name) > 0;
}

std::vector<std::vector<MenuEntry>> ShownMenus() {
    std::lock_guard<std::mutex> lock(M);
    return S.shownMenus;
}

int LiveMenus() {
    std::lock_guard<std::mutex> lock(M);
    return static_cast<int>(std::count_if(S.objects.begin(), S.objects.end(),
                                          [](const auto& o) { return o.second.kind == Kind::Menu; }));
}

std::vector<Notification> Notifications() {
    std::lock_guard<std::mutex> lock(M);
    return S.notifications;
}

std::vector<Box> MessageBoxes() {
    std::lock_guard<std::mutex> lock(M);
    return S.boxes;
}

void* WindowOf(const std::u16string& className) {
    std::lock_guard<std::mutex> lock(M);
    for (auto& [id, o] : S.objects)
        if (o.kind == Kind::Window && o.path == className)
            return reinterpret_cast<void*>(id);
    return nullptr;
}

void Post(void* window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::mutex> lock(M);
    PostLocked(window, message, wParam, lParam);
}

std::vector<std::uint32_t> PostedMessages() {
    std::lock_guard<std::mutex> lock(M);
    return S.posted;
}

int LockViolations() {
    std::lock_guard<std::mutex> lock(M);
    return S.lockViolations;
}

}  // namespace fake

namespace platform {

static_assert(sizeof(std::mutex) <= sizeof(CriticalSection::Storage), "the fake's lock must fit");

void InitializeCriticalSection(CriticalSection* section) {
    Begin("InitializeCriticalSection");
    new (section->Storage) std::mutex();
}

void EnterCriticalSection(CriticalSection* section) {
    Begin("EnterCriticalSection");
    std::launder(reinterpret_cast<std::mutex*>(section->Storage))->lock();
    ++SectionsHeld;
}

void LeaveCriticalSection(CriticalSection* section) {
    --SectionsHeld;
    std::launder(reinterpret_cast<std::mutex*>(section->Storage))->unlock();
    Begin("LeaveCriticalSection");
}

void DeleteCriticalSection(CriticalSection* section) {
    Begin("DeleteCriticalSection");
    std::launder(reinterpret_cast<std::mutex*>(section->Storage))->~mutex();
}

Handle CreateEventW(bool manualReset, bool initialState) {
    if (Begin("CreateEventW").fail)
        return nullptr;
    std::lock_guard<std::mutex> lock(M);
    Object o;
    o.kind = Kind::Event;
    o.manualReset = manualReset;
    o.signalled = initialState;
    return NewObject(std::move(o));
}

static bool Signal(const char* name, Handle event, bool state) {
    if (Begin(name).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(event, Kind::Event);
    if (o == nullptr)
        return false;
    o->signalled = state;
    Changed.notify_all();
    return true;
}

bool SetEvent(Handle event) { return Signal("SetEvent", event, true); }
bool ResetEvent(Handle event) { return Signal("ResetEvent", event, false); }

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
    if (Begin("WaitForSingleObject").fail)
        return WaitFailed;
    return WaitOn(1, &object, milliseconds);
}

std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* objects, bool waitAll,
                                     std::uint32_t milliseconds) {
    if (Begin("WaitForMultipleObjects").fail || waitAll)
        return WaitFailed;
    return WaitOn(count, objects, milliseconds);
}

// A thread of the fake's (the worker) sleeps until the test moves the clock;
// the test's own thread, which has nobody to move it, moves the clock itself.
void Sleep(std::uint32_t milliseconds) {
    Begin("Sleep");
    std::unique_lock<std::mutex> lock(M);
    S.timeouts.push_back(milliseconds);
    const std::uint64_t deadline = S.now + milliseconds;
    if (!OnFakeThread) {
        S.now = deadline;
        Changed.notify_all();
        return;
    }
    bool first = true;
    while (S.now < deadline) {
        Block(lock, first);
    }
}

Handle CreateThread(std::size_t, ThreadProc start, void* parameter, std::uint32_t) {
    if (Begin("CreateThread").fail)
        return nullptr;
    std::lock_guard<std::mutex> lock(M);
    Object o;
    o.kind = Kind::Thread;
    Handle handle = NewObject(std::move(o));
    Trampoline t{start, parameter, reinterpret_cast<std::uintptr_t>(handle)};
    Find(handle, Kind::Thread)->thread = std::make_unique<std::thread>([t] {
        OnFakeThread = true;
        t.start(t.parameter);
        std::lock_guard<std::mutex> done(M);
        auto it = S.objects.find(t.id);
        if (it != S.objects.end())
            it->second.signalled = true;
        Changed.notify_all();
    });
    return handle;
}

bool CloseHandle(Handle object) {
    if (Begin("CloseHandle").fail)
        return false;
    std::unique_ptr<std::thread> thread;
    {
        std::lock_guard<std::mutex> lock(M);
        auto it = S.objects.find(reinterpret_cast<std::uintptr_t>(object));
        if (it == S.objects.end())
            return false;
        // A thread that still runs keeps its record until Reset joins it.
        if (it->second.kind == Kind::Thread && !it->second.signalled)
            return true;
        thread = std::move(it->second.thread);
        if (it->second.kind == Kind::Mutex && --S.mutexes[it->second.path] <= 0)
            S.mutexes.erase(it->second.path);
        S.objects.erase(it);
    }
    if (thread && thread->joinable())
        thread->join();
    return true;
}

std::uint32_t GetLastError() { return LastError; }

std::uint32_t GetLogicalDrives() {
    if (Begin("GetLogicalDrives").fail)
        return 0;
    std::lock_guard<std::mutex> lock(M);
    std::uint32_t mask = 0;
    for (auto& [letter, drive] : S.drives)
        mask |= 1u << (letter - 'A');
    return mask;
}

std::uint32_t GetDriveTypeW(const std::u16string& rootPath) {
    if (Begin("GetDriveTypeW", rootPath).fail)
        return DriveUnknown;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(rootPath);
    if (!IsRoot(key) || key.size() != 3 || key[2] != u'\\')
        return DriveNoRootDir;
    fake::Drive* drive = DriveFor(key);
    return drive == nullptr ? DriveNoRootDir : drive->Type;
}

std::uint32_t GetFileAttributesW(const std::u16string& path) {
    if (Begin("GetFileAttributesW", path).fail)
        return InvalidFileAttributes;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(path);
    if (DriveFor(key) == nullptr)
        return InvalidFileAttributes;
    auto it = S.entries.find(key);
    if (it == S.entries.end()) {
        LastError = ErrorFileNotFound;
        return InvalidFileAttributes;
    }
    return it->second.file.Attributes;
}

bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    if (Begin("SetFileAttributesW", path).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(path);
    auto it = S.entries.find(key);
    if (it == S.entries.end() || !Writable(key))
        return false;
    it->second.file.Attributes = attributes | (it->second.directory ? FileAttributeDirectory : 0);
    return true;
}

Handle CreateFileW(const std::u16string& path, std::uint32_t desiredAccess, std::uint32_t,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    if (Begin("CreateFileW", path).fail)
        return InvalidHandleValue;
    LastError = ErrorFileNotFound;  // what every refusal below reports
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(path);
    if (key.rfind(u"\\\\.\\", 0) == 0) {
        const std::u16string volume = key.substr(4);
        fake::Drive* drive = volume.size() == 2 && volume[1] == u':' ? DriveFor(volume) : nullptr;
        if (drive == nullptr || drive->DeviceOpenFails)
            return InvalidHandleValue;
        Object o;
        o.kind = Kind::Device;
        o.path = volume;
        return NewObject(std::move(o));
    }
    if (DriveFor(key) == nullptr)
        return InvalidHandleValue;
    auto it = S.entries.find(key);
    if (it != S.entries.end() && it->second.directory)
        return InvalidHandleValue;
    const bool wantsWrite = (desiredAccess & GenericWrite) != 0;
    if (wantsWrite && !Writable(key))
        return InvalidHandleValue;
    if (creationDisposition == OpenExisting) {
        if (it == S.entries.end()) {
            LastError = ErrorFileNotFound;
            return InvalidHandleValue;
        }
    } else if (creationDisposition == CreateAlways) {
        if (!ParentExists(key) || !Writable(key))
            return InvalidHandleValue;
        const std::uint32_t attributes = flagsAndAttributes & 0xFFFF;
        if (it != S.entries.end()) {
            // Windows refuses to overwrite a hidden or system file unless the caller asks for those attributes.
            const std::uint32_t guarded = it->second.file.Attributes & (FileAttributeHidden | FileAttributeSystem);
            if ((attributes & guarded) != guarded)
                return InvalidHandleValue;
        }
        Entry e;
        e.file.Attributes = attributes == 0 ? FileAttributeNormal : attributes;
        S.entries[key] = e;
    } else {
        return InvalidHandleValue;
    }
    Object o;
    o.kind = Kind::File;
    o.path = key;
    o.noBuffering = (flagsAndAttributes & FileFlagNoBuffering) != 0;
    o.canWrite = wantsWrite;
    return NewObject(std::move(o));
}

bool ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    if (bytesRead != nullptr)
        *bytesRead = 0;
    if (Begin("ReadFile").fail)
        return false;
    std::unique_lock<std::mutex> lock(M);
    Object* o = Find(file, Kind::File);
    if (o == nullptr || buffer == nullptr)
        return false;
    // Unbuffered reads need sector-aligned addresses and lengths, as on Windows.
    if (o->noBuffering && (reinterpret_cast<std::uintptr_t>(buffer) % 512 != 0 || bytesToRead % 512 != 0))
        return false;
    const std::u16string key = o->path;
    const int generation = S.hangGeneration;
    while (S.entries.count(key) && S.entries[key].file.HangReads && S.hangGeneration == generation)
        Changed.wait(lock);
    o = Find(file, Kind::File);
    auto it = S.entries.find(key);
    if (o == nullptr || it == S.entries.end())
        return false;
    const std::string& bytes = it->second.file.Bytes;
    const std::uint64_t available = o->position < bytes.size() ? bytes.size() - o->position : 0;
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(available, bytesToRead));
    std::memcpy(buffer, bytes.data() + o->position, n);
    o->position += n;
    if (bytesRead != nullptr)
        *bytesRead = n;
    return true;
}

bool WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite, std::uint32_t* bytesWritten) {
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    const Outcome outcome = Begin("WriteFile");
    if (outcome.fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(file, Kind::File);
    if (o == nullptr || !o->canWrite || S.entries.count(o->path) == 0)
        return false;
    const std::uint32_t n = bytesToWrite > outcome.shortBy ? bytesToWrite - outcome.shortBy : 0;
    std::string& bytes = S.entries[o->path].file.Bytes;
    if (bytes.size() < o->position + n)
        bytes.resize(o->position + n);
    std::memcpy(&bytes[o->position], buffer, n);
    o->position += n;
    S.bytesWritten += n;
    if (bytesWritten != nullptr)
        *bytesWritten = n;
    return true;
}

bool FlushFileBuffers(Handle file) {
    if (Begin("FlushFileBuffers").fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(file, Kind::File);
    return o != nullptr && o->canWrite;
}

bool DeleteFileW(const std::u16string& path) {
    if (Begin("DeleteFileW", path).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(path);
    auto it = S.entries.find(key);
    if (it == S.entries.end() || it->second.directory || !Writable(key) ||
        (it->second.file.Attributes & FileAttributeReadonly) != 0)
        return false;
    S.entries.erase(it);
    return true;
}

bool CreateDirectoryW(const std::u16string& path) {
    if (Begin("CreateDirectoryW", path).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string key = Key(path);
    if (S.entries.count(key) || !ParentExists(key) || !Writable(key)) {
        LastError = ErrorAlreadyExists;
        return false;
    }
    Entry e;
    e.directory = true;
    e.file.Attributes = FileAttributeDirectory;
    S.entries[key] = e;
    return true;
}

bool MoveFileExW(const std::u16string& existing, const std::u16string& replacement, std::uint32_t flags) {
    if (Begin("MoveFileExW", existing).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    const std::u16string from = Key(existing), to = Key(replacement);
    auto source = S.entries.find(from);
    if (source == S.entries.end() || source->second.directory || !Writable(to) || !ParentExists(to))
        return false;
    auto target = S.entries.find(to);
    if (target != S.entries.end() && (target->second.directory || (flags & MovefileReplaceExisting) == 0))
        return false;
    Entry moved = source->second;
    S.entries.erase(source);
    S.entries[to] = moved;
    return true;
}

bool DeviceIoControl(Handle device, std::uint32_t controlCode, const void*, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* bytesReturned) {
    if (Begin("DeviceIoControl").fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(device, Kind::Device);
    if (o == nullptr || controlCode != IoctlStorageQueryProperty || inSize < 12 || outSize < 36)
        return false;
    fake::Drive* drive = DriveFor(o->path);
    if (drive == nullptr)
        return false;
    // STORAGE_DEVICE_DESCRIPTOR: Version, Size, then the bus type at byte 28.
    const std::uint32_t header[2] = {36, 36};
    std::memcpy(out, header, sizeof header);
    std::memcpy(static_cast<unsigned char*>(out) + 28, &drive->Bus, 4);
    if (bytesReturned != nullptr)
        *bytesReturned = 36;
    return true;
}

void* VirtualAlloc(void*, std::size_t size, std::uint32_t allocationType, std::uint32_t) {
    if (Begin("VirtualAlloc").fail || (allocationType & MemCommit) == 0)
        return nullptr;
    void* p = std::aligned_alloc(4096, (size + 4095) / 4096 * 4096);
    std::memset(p, 0, size);
    std::lock_guard<std::mutex> lock(M);
    S.allocations[p] = size;
    return p;
}

bool VirtualFree(void* address, std::size_t size, std::uint32_t freeType) {
    if (Begin("VirtualFree").fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    if (size != 0 || freeType != MemRelease || S.allocations.erase(address) == 0)
        return false;
    std::free(address);
    return true;
}

std::int32_t SHGetKnownFolderPath(KnownFolder, std::uint32_t, std::u16string* path, void** taskMemory) {
    *taskMemory = nullptr;
    const bool fail = Begin("SHGetKnownFolderPath").fail;
    std::lock_guard<std::mutex> lock(M);
    if (fail || S.knownFolder.empty())
        return static_cast<std::int32_t>(0x80004005u);  // E_FAIL
    *path = S.knownFolder;
    *taskMemory = std::malloc(1);
    S.allocations[*taskMemory] = 1;
    return 0;
}

void CoTaskMemFree(void* memory) {
    Begin("CoTaskMemFree");
    std::lock_guard<std::mutex> lock(M);
    if (memory != nullptr && S.allocations.erase(memory))
        std::free(memory);
}

std::int32_t RegOpenKeyExW(Handle root, const std::u16string& subKey, std::uint32_t, std::uint32_t access,
                           Handle* key) {
    *key = nullptr;
    if (Begin("RegOpenKeyExW", subKey).fail)
        return 5;  // ERROR_ACCESS_DENIED
    std::lock_guard<std::mutex> lock(M);
    const std::u16string path = Key(u"HKCU\\" + subKey);
    if (root != HkeyCurrentUser || S.registry.count(path) == 0)
        return static_cast<std::int32_t>(ErrorFileNotFound);
    Object o;
    o.kind = Kind::Key;
    o.path = path;
    o.canWrite = (access & KeySetValue) != 0;
    *key = NewObject(std::move(o));
    return 0;
}

std::int32_t RegQueryValueExW(Handle key, const std::u16string& name, std::uint32_t* type, void* data,
                              std::uint32_t* size) {
    if (Begin("RegQueryValueExW", name).fail)
        return 5;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(key, Kind::Key);
    if (o == nullptr)
        return 6;  // ERROR_INVALID_HANDLE
    auto& values = S.registry[o->path];
    auto it = values.find(Key(name));
    if (it == values.end())
        return static_cast<std::int32_t>(ErrorFileNotFound);
    if (type != nullptr)
        *type = it->second.type;
    const std::uint32_t needed = static_cast<std::uint32_t>(it->second.bytes.size());
    if (data != nullptr && needed > *size) {
        *size = needed;
        return 234;  // ERROR_MORE_DATA
    }
    if (data != nullptr)
        std::memcpy(data, it->second.bytes.data(), needed);
    *size = needed;
    return 0;
}

std::int32_t RegSetValueExW(Handle key, const std::u16string& name, std::uint32_t type, const void* data,
                            std::uint32_t size) {
    if (Begin("RegSetValueExW", name).fail)
        return 5;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(key, Kind::Key);
    if (o == nullptr || !o->canWrite)
        return 5;
    S.registry[o->path][Key(name)] = RegValue{type, std::string(static_cast<const char*>(data), size)};
    return 0;
}

std::int32_t RegDeleteValueW(Handle key, const std::u16string& name) {
    if (Begin("RegDeleteValueW", name).fail)
        return 5;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(key, Kind::Key);
    if (o == nullptr || !o->canWrite)
        return 5;
    return S.registry[o->path].erase(Key(name)) ? 0 : static_cast<std::int32_t>(ErrorFileNotFound);
}

std::int32_t RegCloseKey(Handle key) {
    Begin("RegCloseKey");
    std::lock_guard<std::mutex> lock(M);
    return S.objects.erase(reinterpret_cast<std::uintptr_t>(key)) ? 0 : 6;
}


Handle CreateMutexW(bool, const std::u16string& name) {
    if (Begin("CreateMutexW", name).fail) {
        LastError = 5;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(M);
    LastError = S.mutexes[name]++ > 0 ? ErrorAlreadyExists : ErrorSuccess;
    Object o;
    o.kind = Kind::Mutex;
    o.path = name;
    return NewObject(std::move(o));
}

std::uint32_t GetModuleFileNameW(Handle, char16_t* buffer, std::uint32_t size) {
    Begin("GetModuleFileNameW");
    std::lock_guard<std::mutex> lock(M);
    const std::size_t n = std::min<std::size_t>(S.modulePath.size(), size - 1);
    std::copy_n(S.modulePath.data(), n, buffer);
    buffer[n] = u'\0';
    return static_cast<std::uint32_t>(n);
}

std::uint32_t GetWindowsDirectoryW(char16_t* buffer, std::uint32_t size) {
    if (Begin("GetWindowsDirectoryW").fail)
        return 0;
    std::lock_guard<std::mutex> lock(M);
    if (S.windowsDirectory.empty() || S.windowsDirectory.size() >= size)
        return 0;
    std::copy(S.windowsDirectory.begin(), S.windowsDirectory.end(), buffer);
    buffer[S.windowsDirectory.size()] = u'\0';
    return static_cast<std::uint32_t>(S.windowsDirectory.size());
}

void ExitProcess(std::uint32_t exitCode) {
    Begin("ExitProcess");
    throw fake::ProcessExit{exitCode};
}

std::int32_t CoInitializeEx(std::uint32_t) {
    Begin("CoInitializeEx");
    return 0;
}

void CoUninitialize() { Begin("CoUninitialize"); }

std::uint16_t RegisterClassW(const WindowClass& windowClass) {
    if (Begin("RegisterClassW", windowClass.ClassName).fail)
        return 0;
    std::lock_guard<std::mutex> lock(M);
    S.classes[windowClass.ClassName] = windowClass.Procedure;
    return 0xC001;
}

Handle CreateWindowExW(std::uint32_t, const std::u16string& className, const std::u16string&, std::uint32_t,
                       std::int32_t, std::int32_t, std::int32_t, std::int32_t, Handle parent, Handle, Handle) {
    if (Begin("CreateWindowExW", className).fail)
        return nullptr;
    std::lock_guard<std::mutex> lock(M);
    auto it = S.classes.find(className);
    // A message-only window would never hear the shell's broadcasts; the fake refuses it.
    if (it == S.classes.end() || parent == HwndMessage)
        return nullptr;
    Object o;
    o.kind = Kind::Window;
    o.path = className;
    o.procedure = it->second;
    return NewObject(std::move(o));
}

bool DestroyWindow(Handle window) {
    if (Begin("DestroyWindow").fail)
        return false;
    WindowProc procedure = nullptr;
    {
        std::lock_guard<std::mutex> lock(M);
        Object* o = Find(window, Kind::Window);
        if (o == nullptr)
            return false;
        procedure = o->procedure;
    }
    procedure(window, WmDestroy, 0, 0);
    std::lock_guard<std::mutex> lock(M);
    S.objects.erase(reinterpret_cast<std::uintptr_t>(window));
    return true;
}

std::int32_t GetMessageW(Message* message, Handle, std::uint32_t, std::uint32_t) {
    Begin("GetMessageW");
    std::unique_lock<std::mutex> lock(M);
    // Real time, bounded: a test that forgets to end the loop fails instead of hanging.
    if (!Changed.wait_for(lock, std::chrono::seconds(20), [] { return !S.queue.empty(); }))
        return -1;
    *message = S.queue.front();
    S.queue.pop_front();
    return message->Id == 0x0012 ? 0 : 1;  // WM_QUIT
}

bool TranslateMessage(const Message*) {
    Begin("TranslateMessage");
    return false;
}

std::intptr_t DispatchMessageW(const Message* message) {
    Begin("DispatchMessageW");
    WindowProc procedure = nullptr;
    {
        std::lock_guard<std::mutex> lock(M);
        Object* o = Find(message->Window, Kind::Window);
        if (o == nullptr)
            return 0;
        procedure = o->procedure;
    }
    return procedure(message->Window, message->Id, message->WParam, message->LParam);
}

std::intptr_t DefWindowProcW(Handle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    Begin("DefWindowProcW");
    return 0;
}

void PostQuitMessage(std::int32_t exitCode) {
    Begin("PostQuitMessage");
    std::lock_guard<std::mutex> lock(M);
    PostLocked(nullptr, 0x0012, static_cast<std::uintptr_t>(exitCode), 0);
}

bool PostMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (Begin("PostMessageW").fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    PostLocked(window, message, wParam, lParam);
    return true;
}

std::uint32_t RegisterWindowMessageW(const std::u16string& name) {
    Begin("RegisterWindowMessageW", name);
    return name == u"TaskbarCreated" ? 0xC0DE : 0xC0DF;
}

Handle LoadIconW(Handle instance, std::uintptr_t resourceId) {
    Begin("LoadIconW");
    return reinterpret_cast<Handle>(instance == nullptr ? 0x7000 + resourceId : 0x6000 + resourceId);
}

Handle LoadImageW(Handle, std::uintptr_t resourceId, std::uint32_t, std::int32_t, std::int32_t, std::uint32_t) {
    if (Begin("LoadImageW").fail)
        return nullptr;
    return reinterpret_cast<Handle>(0x5000 + resourceId);
}

std::int32_t GetSystemMetrics(std::uint32_t) {
    Begin("GetSystemMetrics");
    return 16;
}

Handle CreatePopupMenu() {
    if (Begin("CreatePopupMenu").fail)
        return nullptr;
    std::lock_guard<std::mutex> lock(M);
    Object o;
    o.kind = Kind::Menu;
    return NewObject(std::move(o));
}

bool AppendMenuW(Handle menu, std::uint32_t flags, std::uintptr_t idOrSubmenu, const std::u16string& text) {
    if (Begin("AppendMenuW", text).fail)
        return false;
    std::lock_guard<std::mutex> lock(M);
    Object* o = Find(menu, Kind::Menu);
    if (o == nullptr)
        return false;
    o->items.push_back(fake::MenuEntry{flags, idOrSubmenu, (flags & MfSeparator) ? u"" : text, {}});
    return true;
}

bool GetCursorPos(Point* point) {
    Begin("GetCursorPos");
    *point = Point{100, 200};
    return true;
}

bool SetForegroundWindow(Handle) {
    Begin("SetForegroundWindow");
    return true;
}

// Shows nothing: records the menu as it stands.
std::int32_t TrackPopupMenu(Handle menu, std::uint32_t, std::int32_t, std::int32_t, Handle) {
    Begin("TrackPopupMenu");
    std::lock_guard<std::mutex> lock(M);
    S.shownMenus.push_back(Snapshot(menu));
    return 0;
}

bool DestroyMenu(Handle menu) {
    Begin("DestroyMenu");
    std::lock_guard<std::mutex> lock(M);
    if (Find(menu, Kind::Menu) == nullptr)
        return false;
    DestroyMenuTree(menu);
    return true;
}

std::int32_t MessageBoxW(Handle, const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
    Begin("MessageBoxW", caption);
    std::lock_guard<std::mutex> lock(M);
    S.boxes.push_back(fake::Box{text, caption, type});
    return 1;  // IDOK
}

bool Shell_NotifyIconW(std::uint32_t message, const NotifyIconData& data) {
    const bool fail = Begin("Shell_NotifyIconW").fail;
    std::lock_guard<std::mutex> lock(M);
    S.notifications.push_back(fake::Notification{message, data.Flags, std::u16string(data.Tip), data.Icon});
    return !fail;
}

}  // namespace platform
