#pragma once
// The scripted stand-in for the Win32 layer: tables of drives, files and
// registry values, events with real wait semantics on a virtual clock, a log
// of calls, and "fail the Nth call of X" fault injection.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct Drive {
    std::uint32_t Type = 3;  // DriveFixed
    std::uint32_t Bus = 0;   // answer to the storage query
    bool WriteProtected = false;
    bool DeviceOpenFails = false;
};

struct File {
    std::uint32_t Attributes = 0x80;
    std::string Bytes;
    bool HangReads = false;  // a read blocks until ReleaseHungReads()
};

struct Call {
    std::string Name;
    std::string Arg;  // first text argument, as UTF-8, or empty
};

// Clears every table, the log, the faults and the clock. No fake thread may be running.
void Reset();

void AddDrive(char letter, Drive drive);
void RemoveDrive(char letter);
void PutFile(const std::u16string& path, File file);
void PutDirectory(const std::u16string& path);
bool HasFile(const std::u16string& path);
File GetFile(const std::u16string& path);  // a file that is absent comes back empty with attributes 0
bool HasDirectory(const std::u16string& path);
void RemovePath(const std::u16string& path);

void SetKnownFolder(const std::u16string& path);  // empty: the lookup fails
void PutRegistryKey(const std::u16string& key);   // e.g. u"HKCU\\Software\\...\\Run"
void PutRegistryValue(const std::u16string& key, const std::u16string& name, std::uint32_t type,
                      const std::string& bytes);
bool GetRegistryValue(const std::u16string& key, const std::u16string& name, std::uint32_t* type,
                      std::string* bytes);

// Faults: the Nth call (1-based, counted from now) of `name` fails, leaving
// `error` as the last error; with `sticky` every later call fails as well. For
// WriteFile, `shortBy` > 0 makes the call succeed while writing that many bytes fewer.
void FailCall(const std::string& name, int nth, bool sticky = false, std::uint32_t shortBy = 0,
              std::uint32_t error = 0);
// Runs `action` (outside the fake's lock) just before the Nth call of `name`.
void BeforeCall(const std::string& name, int nth, std::function<void()> action);

std::vector<Call> Calls();
int CountCalls(const std::string& name, const std::string& argContains = "");
void ClearCalls();
std::uint64_t BytesWritten();

// Virtual clock: waits with a time-out end only when the clock passes their
// deadline. Sleep on a thread the fake started blocks the same way; on the
// test's own thread it moves the clock by itself.
void AdvanceClock(std::uint32_t milliseconds);
// Blocks (real time, bounded) until `count` waits have had to block and one still is.
bool AwaitBlockedWaits(int count);
std::vector<std::uint32_t> WaitTimeouts();  // time-outs of every wait begun, in order
void ReleaseHungReads();
int OpenHandleCount(const std::string& pathContains);
// Platform calls made by a thread while it held a critical section (the program promises none).
int LockViolations();

// The process and its windows.
struct ProcessExit {  // thrown by the fake ExitProcess, which must not return
    std::uint32_t Code;
};
void SetModulePath(const std::u16string& path);
void SetWindowsDirectory(const std::u16string& path);  // empty: the call fails
void PutMutex(const std::u16string& name);             // another instance holds it
bool HasMutex(const std::u16string& name);

struct MenuEntry {
    std::uint32_t Flags = 0;
    std::uintptr_t Id = 0;
    std::u16string Text;
    std::vector<MenuEntry> Submenu;
};
std::vector<std::vector<MenuEntry>> ShownMenus();  // every menu TrackPopupMenu showed, as shown
int LiveMenus();                                    // menus created and not yet destroyed
struct Notification {
    std::uint32_t Message;
    std::uint32_t Flags;
    std::u16string Tip;
    void* Icon;
};
std::vector<Notification> Notifications();
struct Box {
    std::u16string Text, Caption;
    std::uint32_t Type;
};
std::vector<Box> MessageBoxes();
void* WindowOf(const std::u16string& className);   // null when no such window exists
void Post(void* window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
std::vector<std::uint32_t> PostedMessages();        // ids of every message posted, in order

}  // namespace fake
