#pragma once
// The scripted stand-in for the Win32 layer used by the host tests: drives,
// files as plain tables, events on a virtual clock, a window whose messages
// come from a script, a log of calls and "fail the Nth call of X". It runs on
// the test's own thread; only the critical sections are real locks. The
// worker thread runs when start-up's shutdown waits for it.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct Drive {
    std::uint32_t Type = 3;  // fixed
    std::uint32_t Bus = 0;   // what the storage query answers
    bool ReadOnly = false;
    bool Compressed = false;          // new files are made compressed
    bool FilesOnlyInFolders = false;  // the root refuses new files
};

struct File {
    std::string Bytes;
    std::uint32_t Attributes = 0x80;  // 0x10: a folder
    bool Written = false;             // another program has it open for writing
};

// A fault on the Nth call (1-based) of `Call`: it fails with `Error`, or with
// ShortBy > 0 a write succeeds short by that many bytes, or Before runs first
// and the call goes on. Sticky faults hit every later call too.
struct Fault {
    std::string Call;
    int Nth = 1;
    std::uint32_t Error = 0;
    bool Sticky = false;
    std::uint32_t ShortBy = 0;
    std::function<void()> Before;
};

struct Posted {  // a message in the window's queue
    std::uint32_t Message = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

struct ShellIcon {
    bool Shown = false;          // and drawn with an image
    std::uint32_t Callback = 0;  // the message clicks arrive as
    std::u16string Tip;
};

struct Exited {  // thrown by ExitProcess: the process ends there
    std::uint32_t Code = 0;
};

inline std::map<char, Drive> Drives;
inline std::map<std::u16string, File> Files;
inline std::vector<Fault> Faults;
inline std::vector<std::string> Calls;  // "Name first-text-argument", text as UTF-8
inline std::uint64_t BytesRead = 0;     // by unbuffered reads that write nothing back: those reach the device
inline std::vector<std::string> Menu;   // items appended: menu number, check mark, command, text
inline ShellIcon Icon;                  // the icon as the shell has it
inline std::deque<Posted> Queue;        // what GetMessageW hands out next
inline std::uint64_t Now = 0;           // the virtual clock, in ms
inline std::multimap<std::uint64_t, std::function<void()>> Timed;  // run when the clock reaches them
inline std::u16string ModulePath = u"C:\\Kestrun\\Kestrun.exe";
inline int LockViolations = 0;  // platform calls made while holding a critical section

// `action` runs just before the Nth call of `call` (and every later one with `sticky`).
inline Fault Before(std::string call, int nth, std::function<void()> action, bool sticky = false) {
    return {std::move(call), nth, 0, sticky, 0, std::move(action)};
}

void Reset();
// The files, devices, menus, events, threads, windows and mutexes not closed, in the order they were opened.
std::string OpenHandles();
std::string Utf8(const std::u16string& text);

}  // namespace fake
