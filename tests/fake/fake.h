#pragma once
// The scripted stand-in for the Win32 layer used by the host tests: drives and
// files as plain tables, events on a virtual clock, a log of calls and "fail
// the Nth call of X". The shell and the menu are only answered and logged. It
// runs on the test's own thread; only the critical sections are real locks.
#include <cstdint>
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
    bool Subst = false;               // a letter made by SUBST: a folder of another drive
};

struct File {
    std::string Bytes;
    std::uint32_t Attributes = 0x80;  // 0x10: a folder
    bool Written = false;             // another program has it open for writing, sharing no delete
};

// A fault on the Nth call (1-based) of `Call`, a call's name or the start of its line in the log
// ("CreateFileW C:\\K\\config.ini"), and the Times - 1 after it: it
// fails with `Error`, or with ShortBy > 0 a write succeeds short by that many
// bytes, or Before runs first and the call goes on.
constexpr int Ever = 1 << 30;
struct Fault {
    std::string Call;
    int Nth = 1;
    std::uint32_t Error = 0;
    int Times = 1;
    std::uint32_t ShortBy = 0;
    std::function<void()> Before;
};

inline std::map<char, Drive> Drives;
inline std::map<std::u16string, File> Files;
inline std::vector<Fault> Faults;
inline std::vector<std::string> Calls;    // "Name first-text-argument"
inline std::uint64_t BytesRead = 0;       // by unbuffered reads that write nothing back: those reach the device
inline std::vector<std::u16string> Menu;  // items appended: menu number, check mark, command, text
inline std::uint64_t Now = 0;             // the virtual clock, in ms
inline std::multimap<std::uint64_t, std::function<void()>> Timed;  // run when the clock reaches them
inline int LockViolations = 0;                          // platform calls made while holding a critical section
inline std::map<std::uintptr_t, std::uint32_t> Timers;  // the window's timers that are set, and their periods

// `action` runs just before the Nth call of `call` (and the times - 1 after it).
inline Fault Before(std::string call, int nth, std::function<void()> action, int times = 1) {
    return {std::move(call), nth, 0, times, 0, std::move(action)};
}

void Reset();
// The files, devices, menus, events and mutexes not closed, in the order they were opened.
std::string OpenHandles();
// The text of paths, names and numbers, which is all ASCII.
std::string Ascii(const std::u16string& text);

}  // namespace fake
