#include <cstdio>
#include <regex>

#include "keepawake/keepawake.h"
#include "tests/unit/world.h"

namespace {
using fake::Before;
using Files = std::map<std::u16string, fake::File>;
using Faults = std::vector<fake::Fault>;
using At = std::pair<std::uint64_t, std::function<void()>>;
const std::u16string E = u"E:\\.kestrun.dat";
const fake::File Marker = {std::string(4096, '\0'), 0x6};
const Files InFolder = {{u"E:\\.kestrun", {"", 0x12}}, {u"E:\\.kestrun\\.kestrun.dat", Marker}};

// As the menu's drive command does.
void Drop() {
    ToggleTargetDrive(u'E');
    WakeWorker();
}
// A drop, then exit before the worker wakes.
void Exit() {
    Drop();
    platform::SetEvent(StopEvent);
}

// E: becomes write-protected, compressed or an old system disk once the pass has begun.
fake::Fault Make(bool fake::Drive::*property) {
    return Before("GetFileAttributesExW", 1, [=] { fake::Drives['E'].*property = true; });
}

struct Worker : World {
    // The worker's life with E (of a kind Windows cannot tell) among targets never to be touched:
    // Q: is not there, N: a network share, D: a CD-ROM, R: a RAM disk, C: holds Windows, S: a folder of
    // a removable drive that SUBST made a letter. It stops
    // after its first pass, or at 70 s on the virtual clock. What it did to E: its files at the end as
    // "path attributes size", then in order each read (R), write (W) and delete tried (D) with its
    // second, the bytes read from the device, and the drive still to be cleaned up if any.
    std::string Run(const Files& files, const Faults& faults, bool dropped = false, bool once = true, At at = {}) {
        TearDown();
        SetUp();
        fake::Drives = {{'E', {0}}, {'N', {4}}, {'D', {5}}, {'R', {6}}, {'C', {3}}, {'S', {.Type = 2, .Subst = true}}};
        fake::Files = files;
        ReplaceTargetDrives(dropped ? u"QNDRCS" : u"EQNDRCS");
        Settings.DroppedDrives = dropped ? u"E" : u"";
        std::string events;
        fake::Faults = faults;
        for (const char* call : {"ReadFile", "WriteFile", "DeleteFileW"})
            fake::Faults.push_back(Before(
                call, 1, [&events, call] { events += " " + (call[0] + std::to_string(fake::Now / 1000)); },
                fake::Ever));
        if (at.second)
            fake::Timed.insert(at);
        fake::Timed.emplace(70000, [] { platform::SetEvent(StopEvent); });
        if (once)
            platform::SetEvent(StopEvent);
        fake::Calls.clear();
        KeepAwakeWorker(nullptr);
        for (const std::string& call : fake::Calls)
            EXPECT_FALSE(std::regex_search(call, std::regex("^(?!GetDriveTypeW|QueryDosDeviceW).* [QNDRCS]:"))) << call;
        std::string seen;
        for (const auto& [path, file] : fake::Files) {
            char attributes[9];
            std::snprintf(attributes, sizeof attributes, "%x", file.Attributes);
            seen += fake::Ascii(path) + " " + attributes + " " + std::to_string(file.Bytes.size()) + ", ";
        }
        const std::string left = Settings.DroppedDrives.empty() ? "" : ", still to delete";
        return seen + "|" + events + " = " + std::to_string(fake::BytesRead) + left;
    }
};
}  // namespace

TEST(Marker, MadeAnewOnlyWhenItsReadWouldNotReachTheDisk) {
    // found, attributes, size, made anew before in this run: what a pass does
    const std::tuple<bool, std::uint32_t, std::uint64_t, bool, MarkerAction> cases[] = {
        {false, 0, 0, false, MarkerAction::Make},         {true, 0x10, 0, false, MarkerAction::Skip},
        {true, 0x7, 8192, false, MarkerAction::Remake},   {true, 0x2, 0, false, MarkerAction::Use},
        {true, 0x206, 4096, false, MarkerAction::Remake}, {true, 0x806, 4096, true, MarkerAction::Use}};
    for (const auto& [found, attributes, size, remade, action] : cases)
        EXPECT_EQ(JudgeMarker(found, attributes, size, remade), action) << attributes << " " << size;
}

// One pass over E, or for a dropped E the clean-up of its marker.
TEST_F(Worker, PassReadsEveryMarkerWholeAndUnbufferedAndADropLeavesNone) {
    const std::string whole = "E:\\.kestrun.dat 6 4096, | W0 R0 = 4096";
    const std::string marker = "E:\\.kestrun.dat 6 4096, |";
    const std::string folder = "E:\\.kestrun 12 0, E:\\.kestrun\\.kestrun.dat 6 4096, |";
    const fake::Fault held = {"DeleteFileW", 1, 32, fake::Ever};     // a scanner has the marker open
    const fake::Fault protect = {"DeleteFileW", 1, 19, fake::Ever};  // a write-protected card
    // The first-run choices stand in for a settings file not read yet.
    const fake::Fault unchosen = Before("GetFileAttributesExW", 1, [] { ReplaceTargetDrives(u"EQNDRCS", false); });
    // E's files before, a fault, whether E was dropped; E's files and events after
    const std::tuple<Files, fake::Fault, bool, std::string> cases[] = {
        {{}, {}, false, whole},
        {{{E, {"user's", 0x20}}}, {}, false, "E:\\.kestrun.dat 20 6, | R0 = 6"},
        {{{E, {"", 0x6}}}, {}, false, "E:\\.kestrun.dat 6 4096, | D0 W0 R0 = 4096"},  // ours, cut short
        {{{E, Marker}}, Make(&fake::Drive::ReadOnly), false, marker + " R0 = 4096"},
        {{}, {"WriteFile", 1, 0, 1, 96}, false, "| W0 D0 = 0"},  // a full drive
        {{}, Make(&fake::Drive::Compressed), false, whole},
        {{}, Make(&fake::Drive::FilesOnlyInFolders), false, folder + " W0 R0 = 4096"},
        {InFolder, {}, false, folder + " R0 = 4096"},
        {{}, Before("GetFileAttributesExW", 1, Drop), false, "| = 0"},  // dropped during the pass: nothing made
        {{}, unchosen, false, "| = 0"},
        {{{E, Marker}}, unchosen, false, marker + " R0 = 4096"},
        {{{E, Marker}}, {}, true, "| D0 = 0"},
        {InFolder, {}, true, "| D0 = 0"},
        {{{E, Marker}, *InFolder.begin()}, {}, true, "| D0 = 0"},  // and the empty folder goes too
        {{{E, {"", 0x27}}}, held, true, "E:\\.kestrun.dat 26 0, | D0 D0 = 0, still to delete"},  // it stays hidden
        {{{E, Marker}}, protect, true, marker + " D0 = 0"},                                      // let go
    };
    for (const auto& [files, fault, dropped, after] : cases)
        EXPECT_EQ(Run(files, {fault}, dropped), after) << fault.Call;
}

TEST_F(Worker, PassesFollowTheIntervalWakesAndStop) {
    const auto turnsCompressed = Before("GetFileAttributesExW", 1, [] {
        fake::Files[E].Attributes = 0x806;
        fake::Drives['E'].Compressed = true;
    });
    const fake::Fault keepsCompressing = {"DeviceIoControl", 1, 1, fake::Ever};  // new files on E stay compressed
    const std::string marker = "E:\\.kestrun.dat 6 4096, |";
    // faults, an action at a moment; E's files and events
    const std::tuple<Faults, At, std::string> cases[] = {
        {{}, {}, marker + " R0 R30 R60 = 12288"},
        {{}, {10000, WakeWorker}, marker + " R0 R10 R40 = 12288"},
        {{Before("WaitForMultipleObjects", 1, [] { SetEnabled(0); })}, {}, marker + " R0 = 4096"},
        {{}, {5000, [] { SetIntervalSec(60); }}, marker + " R0 R30 = 8192"},
        {{}, {50000, Exit}, "| R0 R30 D50 = 8192"},
        {{{"DeleteFileW", 1, 32}}, {10000, Drop}, "| R0 D10 D40 = 4096"},  // a refused delete is tried again
        {{turnsCompressed, keepsCompressing}, {}, "E:\\.kestrun.dat 806 4096, | D0 W0 R0 R30 R60 = 12288"},
    };
    for (const auto& [faults, at, after] : cases)
        EXPECT_EQ(Run({{E, Marker}}, faults, false, false, at), after);
}
