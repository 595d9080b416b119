#include <regex>

#include "keepawake/keepawake.h"
#include "tests/unit/world.h"

namespace {
using fake::Before;
const std::u16string E = u"E:\\.kestrun.dat";
const fake::File Marker = {std::string(4096, '\0'), 0x6}, Folder = {"", 0x10, true}, Small = {"user's", 0x20};
const fake::File Compressed = {std::string(4096, '\0'), 0x806}, Sparse = {std::string(4096, '\0'), 0x206};
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
    return fake::Before("GetFileAttributesW", 1, [=] { fake::Drives['E'].*property = true; });
}

// One pass, as the worker makes it first thing; the stop is already set, so it ends after it.
void RunPass(std::vector<fake::Fault> faults) {
    platform::SetEvent(StopEvent);
    fake::Faults = std::move(faults);
    fake::Calls.clear();
    fake::BytesRead = 0;
    KeepAwakeWorker(nullptr);
}
}  // namespace

// F: is of a kind Windows cannot tell, and goes on all the same.
TEST_F(World, SteadyStateCostsSixCallsPerDriveAndWritesNothing) {
    fake::Drives = {{'E', {2}}, {'F', {0}}};
    fake::Files = {{E, Marker}, {u"F:\\.kestrun.dat", Marker}};
    ReplaceTargetDrives(u"EF");
    RunPass({});
    EXPECT_EQ(fake::Calls,
              (std::vector<std::string>{"GetDriveTypeW E:\\", "GetFileAttributesW E:\\.kestrun.dat",
                                        "CreateFileW E:\\.kestrun.dat", "SetFileTime", "ReadFile E:\\.kestrun.dat",
                                        "CloseHandle", "GetDriveTypeW F:\\", "GetFileAttributesW F:\\.kestrun.dat",
                                        "CreateFileW F:\\.kestrun.dat", "SetFileTime", "ReadFile F:\\.kestrun.dat",
                                        "CloseHandle", "WaitForMultipleObjects"}));
    EXPECT_EQ(fake::BytesRead, 2u * 4096) << "every read takes the whole marker, unbuffered";
    EXPECT_EQ(fake::LastAccessStamps, 0) << "no read leaves a last-access time to be written back";
}

TEST_F(World, MissingMarkerIsMadeOnceAndReadAndAnythingElseIsLeftAlone) {
    const std::tuple<const char*, std::optional<fake::File>, fake::Fault, std::optional<fake::File>> cases[] = {
        // name, the file before, a fault, the file after
        {"missing", {}, {}, Marker},
        {"vanishes before the open", Marker, Before("CreateFileW", 1, [] { fake::Files.erase(E); }), Marker},
        {"a directory of that name", Folder, {}, Folder},
        {"someone else's short file", Small, {}, Small},
        {"write-protected medium", {}, Make(&fake::Drive::ReadOnly), {}},
        {"a full drive: the short file goes, to be made whole later", {}, {"WriteFile", 1, 0, false, 96}, {}},
        {"write-protected medium with a marker: read all the same", Marker, Make(&fake::Drive::ReadOnly), Marker},
        {"a compressed marker is made anew", Compressed, {}, Marker},
        {"a sparse marker is made anew", Sparse, {}, Marker},
        {"no compression from a compressed drive", {}, Make(&fake::Drive::Compressed), Marker},
    };
    for (const auto& [name, before, fault, after] : cases) {
        // Q: is not there; N: is a network share, D: a CD-ROM, R: a RAM disk, C: holds Windows.
        fake::Drives = {{'E', {2}}, {'N', {4}}, {'D', {5}}, {'R', {6}}, {'C', {3}}};
        fake::Files.clear();
        if (before)
            fake::Files[E] = *before;
        ReplaceTargetDrives(u"EQNDRC");
        RunPass({fault});
        ASSERT_EQ(fake::Files.contains(E), after.has_value()) << name;
        EXPECT_TRUE(!after || (fake::Files[E].Bytes == after->Bytes && fake::Files[E].Attributes == after->Attributes))
            << name;
        EXPECT_EQ(fake::BytesRead, after && !after->Directory ? after->Bytes.size() : 0) << name;
        for (const std::string& call : fake::Calls)
            EXPECT_TRUE(call.starts_with("GetDriveTypeW") || !std::regex_search(call, std::regex(" [QNDRC]:")))
                << name << ": " << call;
    }
}

TEST_F(World, WorkerPassesFollowTheIntervalWakesAndStop) {
    using Times = std::vector<std::uint64_t>;  // when each pass began, in ms on the virtual clock
    using At = std::pair<std::uint64_t, std::function<void()>>;
    const fake::Fault waitFails = {"WaitForMultipleObjects", 1};
    // faults, an action at a moment, the passes, whether E has its marker at the stop and at the end
    const std::tuple<const char*, std::vector<fake::Fault>, At, Times, const char*> cases[] = {
        {"first pass at once, then each interval", {}, {}, {0, 30000, 60000, 90000}, "11"},
        {"a wake gives one more pass", {}, {10000, WakeWorker}, {0, 10000, 40000, 70000}, "11"},
        {"a wake during a pass is kept", {Before("ReadFile", 1, WakeWorker)}, {}, {0, 0, 30000, 60000, 90000}, "11"},
        {"off: no drive touched", {Before("WaitForMultipleObjects", 1, [] { SetEnabled(0); })}, {}, {0}, "11"},
        {"the wait follows the interval", {}, {5000, [] { SetIntervalSec(60); }}, {0, 30000, 90000}, "11"},
        {"a failing wait does not spin", {waitFails}, {}, {0, 30000, 60000, 90000}, "11"},
        {"a drive dropped during a pass loses its marker", {Before("ReadFile", 1, Drop)}, {}, {0}, "00"},
        {"dropped just before exit", {}, {100000, Exit}, {0, 30000, 60000, 90000}, "10"},
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
            "GetDriveTypeW", 1, [&] { passes.push_back(fake::Now); }, true));
        fake::Timed.emplace(100000, Stop);
        KeepAwakeWorker(nullptr);
        EXPECT_EQ(passes, expected) << name;
        EXPECT_EQ((std::string{char('0' + MarkerAtStop), char('0' + fake::Files.contains(E))}), marker) << name;
    }
}
