#include "keepawake/keepawake.h"
#include "tests/unit/world.h"

namespace {
const std::u16string E = u"E:\\.kestrun.dat";
const fake::File Marker = {std::string(4096, '\0'), 0x6};
using Faults = std::vector<fake::Fault>;
}  // namespace

struct Pass : World {
    alignas(4096) unsigned char buffer[4096];
    void Run(const Faults& faults) {
        fake::Faults = faults, fake::Calls.clear(), fake::BytesRead = 0;
        KeepAwakePass(buffer);
    }
};

TEST_F(Pass, SteadyStateCostsFiveCallsPerDriveAndWritesNothing) {
    fake::Drives = {{'E', {2}}, {'F', {3, 7}}};
    fake::Files = {{E, Marker}, {u"F:\\.kestrun.dat", Marker}};
    ReplaceTargetDrives(u"EF");
    Run({});
    std::vector<std::string> expected;
    for (const std::string d : {"E:\\", "F:\\"})
        expected.insert(expected.end(), {"GetDriveTypeW " + d, "GetFileAttributesW " + d + ".kestrun.dat",
                                         "CreateFileW " + d + ".kestrun.dat", "ReadFile " + d + ".kestrun.dat",
                                         "CloseHandle"});
    EXPECT_EQ(fake::Calls, expected);
    EXPECT_EQ(fake::BytesRead, 2u * 4096) << "every read takes the whole marker, unbuffered";
}

TEST_F(Pass, MissingMarkerIsMadeOnceAndReadAndAnythingElseIsLeftAlone) {
    const fake::File directory = {"", 0x10, true}, small = {"user's", 0x20};
    const struct {
        const char* name;
        std::optional<fake::File> before;
        Faults faults;
        std::optional<fake::File> after;
        std::uint64_t read;
    } cases[] = {
        {"missing", {}, {}, Marker, 4096},
        {"vanishes before the open", Marker, {{"CreateFileW", 1, 0, false, 0, [] { fake::Files.erase(E); }}}, Marker,
         4096},
        {"a directory of that name", directory, {}, directory, 0},
        {"someone else's short file", small, {}, small, 6},
        {"write-protected drive", {}, {{"CreateFileW", 1, 19}}, {}, 0},
        {"a full drive: the short file goes, to be made whole later", {}, {{"WriteFile", 1, 0, false, 96}}, {}, 0},
    };
    for (const auto& c : cases) {
        fake::Drives = {{'E', {2}}}, fake::Files.clear();
        if (c.before)
            fake::Files[E] = *c.before;
        ReplaceTargetDrives(u"EQ");  // Q: is not there
        Run(c.faults);
        EXPECT_EQ(fake::Files.contains(E), c.after.has_value()) << c.name;
        if (c.after)
            EXPECT_TRUE(fake::Files[E].Bytes == c.after->Bytes && fake::Files[E].Attributes == c.after->Attributes)
                << c.name;
        EXPECT_EQ(fake::BytesRead, c.read) << c.name;
        EXPECT_EQ(fake::Count("CreateFileW Q"), 0) << c.name;
    }
}

// The pass works on a copy of the targets: a drive dropped at any moment of it keeps no marker.
TEST_F(Pass, DroppedDriveKeepsNoMarker) {
    for (const auto& [call, nth] : std::vector<std::pair<std::string, int>>{
             {"GetFileAttributesW", 1}, {"CreateFileW", 1}, {"WriteFile", 1}, {"CloseHandle", 1}, {"CreateFileW", 2},
             {"ReadFile", 1}}) {
        fake::Drives = {{'E', {2}}}, fake::Files.clear();
        ReplaceTargetDrives(u"E");
        Run({{call, nth, 0, false, 0, [] {
                  if (!ToggleTargetDrive(u'E'))  // as the menu's drive command does
                      RemoveMarker(u'E');
              }}});
        EXPECT_FALSE(fake::Files.contains(E)) << "dropped before " << call << " #" << nth;
    }
}

TEST_F(World, WorkerPassesFollowTheIntervalWakesAndStop) {
    const struct {
        const char* name;
        std::function<void()> setUp;
        std::vector<std::uint64_t> passes;  // when each began, in ms on the virtual clock
    } cases[] = {
        {"first pass at once, then each interval", [] {}, {0, 30000, 60000, 90000}},
        {"a wake gives one more pass", [] { fake::Timed.emplace(10000, WakeWorker); }, {0, 10000, 40000, 70000}},
        {"a wake during a pass is kept", [] { fake::Faults = {{"ReadFile", 1, 0, false, 0, WakeWorker}}; },
         {0, 0, 30000, 60000, 90000}},
        {"switched off, no drive is touched", [] { SetEnabled(0); }, {}},
        {"the wait follows the interval", [] { fake::Timed.emplace(5000, [] { SetIntervalSec(60); }); },
         {0, 30000, 90000}},
        {"a failing wait does not spin", [] { fake::Faults = {{"WaitForMultipleObjects", 1}}; },
         {0, 30000, 60000, 90000}},
        {"nor do two", [] { fake::Faults = {{"WaitForMultipleObjects", 1}, {"WaitForSingleObject", 1}}; },
         {0, 30000, 60000, 90000}},
    };
    for (const auto& c : cases) {
        TearDown(), SetUp();
        fake::Drives = {{'E', {2}}}, fake::Files = {{E, Marker}};
        ReplaceTargetDrives(u"E");
        c.setUp();
        std::vector<std::uint64_t> passes;
        fake::Faults.push_back({"GetDriveTypeW", 1, 0, true, 0, [&] { passes.push_back(fake::Now); }});
        fake::Timed.emplace(100000, [] { platform::SetEvent(StopEvent); });
        KeepAwakeWorker(nullptr);
        EXPECT_EQ(passes, c.passes) << c.name;
    }
}
