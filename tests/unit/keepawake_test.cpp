#include "keepawake/keepawake.h"
#include "tests/unit/world.h"

namespace {
using fake::Before, fake::Failing;
const std::u16string E = u"E:\\.kestrun.dat";
const fake::File Marker = {std::string(4096, '\0'), 0x6}, Folder = {"", 0x10, true}, Small = {"user's", 0x20};
}  // namespace

struct Pass : World {
    alignas(4096) unsigned char buffer[4096];
    void Run(std::vector<fake::Fault> faults) {
        fake::Faults = std::move(faults), fake::Calls.clear(), fake::BytesRead = 0;
        KeepAwakePass(buffer);
    }
};

TEST_F(Pass, SteadyStateCostsFiveCallsPerDriveAndWritesNothing) {
    fake::Drives = {{'E', {2}}, {'F', {3, 7}}};
    fake::Files = {{E, Marker}, {u"F:\\.kestrun.dat", Marker}};
    ReplaceTargetDrives(u"EF");
    Run({});
    EXPECT_EQ(fake::Calls,
              (std::vector<std::string>{"GetDriveTypeW E:\\", "GetFileAttributesW E:\\.kestrun.dat",
                                        "CreateFileW E:\\.kestrun.dat", "ReadFile E:\\.kestrun.dat", "CloseHandle",
                                        "GetDriveTypeW F:\\", "GetFileAttributesW F:\\.kestrun.dat",
                                        "CreateFileW F:\\.kestrun.dat", "ReadFile F:\\.kestrun.dat", "CloseHandle"}));
    EXPECT_EQ(fake::BytesRead, 2u * 4096) << "every read takes the whole marker, unbuffered";
}

TEST_F(Pass, MissingMarkerIsMadeOnceAndReadAndAnythingElseIsLeftAlone) {
    const std::tuple<const char*, std::optional<fake::File>, fake::Fault, std::optional<fake::File>> cases[] = {
        // name, the file before, a fault, the file after
        {"missing", {}, {}, Marker},
        {"vanishes before the open", Marker, Before("CreateFileW", 1, [] { fake::Files.erase(E); }), Marker},
        {"a directory of that name", Folder, {}, Folder},
        {"someone else's short file", Small, {}, Small},
        {"write-protected drive", {}, Failing("CreateFileW", 1, 19), {}},
        {"a full drive: the short file goes, to be made whole later", {}, {"WriteFile", 1, 0, false, 96}, {}},
    };
    for (const auto& [name, before, fault, after] : cases) {
        fake::Drives = {{'E', {2}}}, fake::Files.clear();
        if (before)
            fake::Files[E] = *before;
        ReplaceTargetDrives(u"EQ");  // Q: is not there
        Run({fault});
        ASSERT_EQ(fake::Files.contains(E), after.has_value()) << name;
        EXPECT_TRUE(!after || (fake::Files[E].Bytes == after->Bytes && fake::Files[E].Attributes == after->Attributes))
            << name;
        EXPECT_EQ(fake::BytesRead, after && !after->Directory ? after->Bytes.size() : 0) << name;
        EXPECT_EQ(fake::Count("CreateFileW Q"), 0) << name;
    }
}

// The pass works on a copy of the targets: a drive dropped at any moment of it keeps no marker.
TEST_F(Pass, DroppedDriveKeepsNoMarker) {
    const std::pair<const char*, int> moments[] = {{"GetFileAttributesW", 1}, {"CreateFileW", 1}, {"WriteFile", 1},
                                                   {"CloseHandle", 1},        {"CreateFileW", 2}, {"ReadFile", 1}};
    for (const auto& [call, nth] : moments) {
        fake::Drives = {{'E', {2}}}, fake::Files.clear();
        ReplaceTargetDrives(u"E");
        Run({Before(call, nth, [] {
            if (!ToggleTargetDrive(u'E'))  // as the menu's drive command does
                RemoveMarker(u'E');
        })});
        EXPECT_FALSE(fake::Files.contains(E)) << "dropped before " << call << " #" << nth;
    }
}

TEST_F(World, WorkerPassesFollowTheIntervalWakesAndStop) {
    using Times = std::vector<std::uint64_t>;  // when each pass began, in ms on the virtual clock
    const std::tuple<const char*, std::function<void()>, Times> cases[] = {
        {"first pass at once, then each interval", [] {}, {0, 30000, 60000, 90000}},
        {"a wake gives one more pass", [] { fake::Timed.emplace(10000, WakeWorker); }, {0, 10000, 40000, 70000}},
        {"a wake during a pass is kept",
         [] { fake::Faults = {Before("ReadFile", 1, WakeWorker)}; },
         {0, 0, 30000, 60000, 90000}},
        {"switched off, no drive is touched", [] { SetEnabled(0); }, {}},
        {"the wait follows the interval",
         [] { fake::Timed.emplace(5000, [] { SetIntervalSec(60); }); },
         {0, 30000, 90000}},
        {"a failing wait does not spin",
         [] { fake::Faults = {Failing("WaitForMultipleObjects", 1)}; },
         {0, 30000, 60000, 90000}},
        {"nor do two",
         [] {
             fake::Faults = {Failing("WaitForMultipleObjects", 1), Failing("WaitForSingleObject", 1)};
         },
         {0, 30000, 60000, 90000}},
    };
    for (const auto& [name, setUp, expected] : cases) {
        TearDown(), SetUp();
        fake::Drives = {{'E', {2}}}, fake::Files = {{E, Marker}};
        ReplaceTargetDrives(u"E");
        setUp();
        Times passes;
        fake::Faults.push_back(Before(
            "GetDriveTypeW", 1, [&] { passes.push_back(fake::Now); }, true));
        fake::Timed.emplace(100000, [] { platform::SetEvent(StopEvent); });
        KeepAwakeWorker(nullptr);
        EXPECT_EQ(passes, expected) << name;
    }
}
