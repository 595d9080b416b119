#include <cstdio>
#include <regex>

#include "keepawake/keepawake.h"
#include "tests/unit/world.h"

namespace {
using fake::Before;
using Files = std::map<std::u16string, fake::File>;
const std::u16string E = u"E:\\.kestrun.dat";
const std::u16string Folder = u"E:\\.kestrun";
const std::u16string InFolder = u"E:\\.kestrun\\.kestrun.dat";
const fake::File Marker = {std::string(4096, '\0'), 0x6};

// As the menu's drive command does.
void Drop() {
    ToggleTargetDrive(u'E');
    WakeWorker();
}
bool MarkerAtStop = false;
void Stop() {
    MarkerAtStop = fake::Files.contains(E);
    platform::SetEvent(StopEvent);
}
// A drop, then exit before the worker wakes.
void Exit() {
    Drop();
    Stop();
}

// E: becomes write-protected or compressed once the pass has begun.
fake::Fault Make(bool fake::Drive::*property) {
    return fake::Before("GetFileAttributesExW", 1, [=] { fake::Drives['E'].*property = true; });
}

// E's files as "path attributes size", and the bytes read from the device.
std::string OnE() {
    std::string seen;
    for (const auto& [path, file] : fake::Files) {
        char attributes[9];
        std::snprintf(attributes, sizeof attributes, "%x", file.Attributes);
        if (path.starts_with(u"E:"))
            seen += fake::Utf8(path) + " " + attributes + " " + std::to_string(file.Bytes.size()) + ", ";
    }
    return seen + "read " + std::to_string(fake::BytesRead);
}
}  // namespace

TEST(Marker, MadeAnewOnlyWhenItsReadWouldNotReachTheDisk) {
    // found, attributes, size, made anew before in this run: what a pass does
    const std::tuple<bool, std::uint32_t, std::uint64_t, bool, MarkerAction> cases[] = {
        {false, 0, 0, false, MarkerAction::Make},         {true, 0x10, 0, false, MarkerAction::Skip},
        {true, 0x26, 4096, false, MarkerAction::Use},     {true, 0x6, 0, false, MarkerAction::Remake},
        {true, 0x7, 8192, false, MarkerAction::Remake},   {true, 0x2, 0, false, MarkerAction::Use},  // someone else's
        {true, 0x24, 6, false, MarkerAction::Use},        {true, 0x820, 6, false, MarkerAction::Remake},
        {true, 0x206, 4096, false, MarkerAction::Remake}, {true, 0x6, 0, true, MarkerAction::Use},
        {true, 0x806, 4096, true, MarkerAction::Use}};
    for (const auto& [found, attributes, size, remade, action] : cases)
        EXPECT_EQ(JudgeMarker(found, attributes, size, remade), action) << attributes << " " << size;
}

// One pass over E (or, dropped, the clean-up of its marker) from E's files and a fault. E's kind
// is one Windows cannot tell; Q: is not there, N: is a network share, D: a CD-ROM, R: a RAM disk, C: holds Windows.
TEST_F(World, PassReadsEveryMarkerWholeAndUnbufferedAndADropLeavesNone) {
    const std::string whole = "E:\\.kestrun.dat 6 4096, read 4096";
    const std::string inFolder = "E:\\.kestrun 12 0, E:\\.kestrun\\.kestrun.dat 6 4096, read 4096";
    const Files folder = {{Folder, {"", 0x12}}, {InFolder, Marker}};
    const fake::Fault vanishes = Before("CreateFileW", 1, [] { fake::Files.erase(E); });
    const fake::Fault unasked = Before("GetDriveTypeW", 1, [] {
        fake::Drives['E'].FilesOnlyInFolders = true;
        fake::Faults.push_back({"GetFileAttributesExW", 1, 5});
    });
    const fake::Fault vanishesForGood = Before("CreateFileW", 1, [] {
        fake::Files.erase(E);
        fake::Drives['E'].ReadOnly = true;
    });
    const std::tuple<const char*, Files, fake::Fault, bool, std::string> cases[] = {
        // name, E's files before, a fault, whether E was dropped, E's files after and the bytes read
        {"missing", {}, {}, false, whole},
        {"vanishes before the open", {{E, Marker}}, vanishes, false, whole},
        {"vanishes, and cannot be made again", {{E, Marker}}, vanishesForGood, false, "read 0"},
        {"a directory of that name", {{E, {"", 0x10}}}, {}, false, "E:\\.kestrun.dat 10 0, read 0"},
        {"someone else's short file", {{E, {"user's", 0x20}}}, {}, false, "E:\\.kestrun.dat 20 6, read 6"},
        {"ours, cut short", {{E, {"", 0x6}}}, {}, false, whole},
        {"write-protected medium", {}, Make(&fake::Drive::ReadOnly), false, "read 0"},
        {"with a marker: read all the same", {{E, Marker}}, Make(&fake::Drive::ReadOnly), false, whole},
        {"a full drive: no short marker", {}, {"WriteFile", 1, 0, false, 96}, false, "read 0"},
        {"on a compressed drive", {}, Make(&fake::Drive::Compressed), false, whole},
        {"every open refused", {{E, Marker}}, {"CreateFileW", 1, 32, true}, false, "E:\\.kestrun.dat 6 4096, read 0"},
        {"a root that refuses new files", {}, Make(&fake::Drive::FilesOnlyInFolders), false, inFolder},
        {"the folder's marker", folder, {}, false, inFolder},
        {"a root that refuses new files and cannot be asked: no folder", {}, unasked, false, "read 0"},
        {"dropped", {{E, Marker}}, {}, true, "read 0"},
        {"dropped, read-only", {{E, {"", 0x7}}}, {}, true, "read 0"},
        {"dropped, a directory of that name", {{E, {"", 0x10}}}, {}, true, "E:\\.kestrun.dat 10 0, read 0"},
        {"dropped, in our folder", folder, {}, true, "read 0"},
        {"dropped, held by a scanner: it stays hidden",
         {{E, Marker}},
         {"DeleteFileW", 1, 32, true},
         true,
         "E:\\.kestrun.dat 6 4096, read 0, still to delete"},
        {"dropped, read-only, held: only read-only is cleared",
         {{E, {"", 0x27}}},
         {"DeleteFileW", 1, 32, true},
         true,
         "E:\\.kestrun.dat 26 0, read 0, still to delete"},
        {"dropped, on a write-protected card: let go",
         {{E, Marker}},
         {"DeleteFileW", 1, 19, true},
         true,
         "E:\\.kestrun.dat 6 4096, read 0"},
    };
    for (const auto& [name, before, fault, dropped, after] : cases) {
        fake::Drives = {{'E', {0}}, {'N', {4}}, {'D', {5}}, {'R', {6}}, {'C', {3}}};
        fake::Files = before;
        RemadeMarkers.clear();
        ReplaceTargetDrives(dropped ? u"QNDRC" : u"EQNDRC");
        Settings.DroppedDrives = dropped ? u"E" : u"";
        platform::SetEvent(StopEvent);
        fake::Faults = {fault};
        fake::Calls.clear();
        fake::BytesRead = 0;
        KeepAwakeWorker(nullptr);
        EXPECT_EQ(OnE() + (Settings.DroppedDrives.empty() ? "" : ", still to delete"), after) << name;
        for (const std::string& call : fake::Calls)
            EXPECT_TRUE(call.starts_with("GetDriveTypeW") || !std::regex_search(call, std::regex(" [QNDRC]:")))
                << name << ": " << call;
    }
    // A whole marker costs six calls (type, attributes, open, keep last access, read, close), then the wait.
    fake::Files = {{E, Marker}};
    ReplaceTargetDrives(u"E");
    Settings.DroppedDrives.clear();
    platform::SetEvent(StopEvent);
    fake::Calls.clear();
    fake::LastAccessStamps = 0;
    KeepAwakeWorker(nullptr);
    EXPECT_EQ(fake::Calls.size(), 7u);
    EXPECT_EQ(fake::LastAccessStamps, 0) << "a read left its last-access time to be written back";
}

TEST_F(World, WorkerPassesFollowTheIntervalWakesAndStop) {
    using Times = std::vector<std::uint64_t>;  // when each pass read E, in ms on the virtual clock
    using At = std::pair<std::uint64_t, std::function<void()>>;
    const auto turnsCompressed = Before("GetFileAttributesExW", 1, [] {
        fake::Files[E].Attributes = 0x806;
        fake::Drives['E'].Compressed = true;
    });
    // faults, an action at a moment, the passes, and E's marker: there at the stop, its attributes at the end
    // (- when gone) and the times it was written
    const fake::Fault waitFails = {"WaitForMultipleObjects", 1, 0, true};
    const fake::Fault wakeInPass = Before("ReadFile", 1, WakeWorker);
    const fake::Fault off = Before("WaitForMultipleObjects", 1, [] { SetEnabled(0); });
    const std::tuple<const char*, std::vector<fake::Fault>, At, Times, const char*> cases[] = {
        {"first pass at once, then each interval", {}, {}, {0, 30000, 60000, 90000}, "1 6 w0"},
        {"a wake gives one more pass", {}, {10000, WakeWorker}, {0, 10000, 40000, 70000}, "1 6 w0"},
        {"a wake during a pass is kept", {wakeInPass}, {}, {0, 0, 30000, 60000, 90000}, "1 6 w0"},
        {"off: no drive touched", {off}, {}, {0}, "1 6 w0"},
        {"the wait follows the interval", {}, {5000, [] { SetIntervalSec(60); }}, {0, 30000, 90000}, "1 6 w0"},
        {"a failing wait neither spins nor misses the stop",
         {waitFails, {"WaitForSingleObject", 1}},
         {},
         {0, 30000, 60000, 90000},
         "1 6 w0"},
        {"a drive dropped during a pass loses its marker", {Before("ReadFile", 1, Drop)}, {}, {0}, "0 - w0"},
        {"dropped just before exit", {}, {100000, Exit}, {0, 30000, 60000, 90000}, "1 - w0"},
        {"a refused delete is tried again", {{"DeleteFileW", 1, 32}}, {10000, Drop}, {0}, "0 - w0"},
        {"a refused remake is tried again",
         {turnsCompressed, {"DeleteFileW", 1, 32}, {"CreateFileW", 1, 32}},
         {},
         {30000, 60000, 90000},
         "1 6 w1"},
        {"made anew once where it stays compressed",
         {turnsCompressed, {"DeviceIoControl", 1, 1, true}},
         {},
         {0, 30000, 60000, 90000},
         "1 806 w1"},
    };
    for (const auto& [name, faults, at, expected, marker] : cases) {
        TearDown();
        SetUp();
        fake::Drives = {{'E', {2}}};
        fake::Files = {{E, Marker}};
        fake::Faults = faults;
        ReplaceTargetDrives(u"E");
        if (at.second)
            fake::Timed.insert(at);
        Times passes;
        fake::Faults.push_back(Before(
            "ReadFile", 1, [&] { passes.push_back(fake::Now); }, true));
        fake::Timed.emplace(100000, Stop);
        KeepAwakeWorker(nullptr);
        char attributes[9] = "-";
        if (fake::Files.contains(E))
            std::snprintf(attributes, sizeof attributes, "%x", fake::Files[E].Attributes);
        const auto writes = std::count(fake::Calls.begin(), fake::Calls.end(), "WriteFile E:\\.kestrun.dat");
        EXPECT_EQ(passes, expected) << name;
        EXPECT_EQ(std::to_string(MarkerAtStop) + " " + attributes + " w" + std::to_string(writes), marker) << name;
    }
}
