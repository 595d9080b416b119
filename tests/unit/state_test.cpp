#include "tests/unit/support.h"

#include <thread>

using SettingsState = FakeWorld;

TEST_F(SettingsState, ToggleTargetDrive) {
    struct Case {
        const char16_t* before;
        char16_t letter;
        bool added;
        const char16_t* after;
    } cases[] = {
        {u"EF", u'G', true, u"EFG"},   // appended at the end
        {u"", u'E', true, u"E"},
        {u"EFE", u'E', false, u"FE"},  // only the first occurrence goes
        {u"E", u'E', false, u""},      // the last letter leaves it empty
        {u"e", u'E', true, u"eE"},     // no case folding: the lower-case letter stays
        {u"EF", u'E', false, u"F"},
        {u"F", u'E', true, u"FE"},
    };
    for (const Case& c : cases) {
        ReplaceTargetDrives(c.before);
        EXPECT_EQ(ToggleTargetDrive(c.letter), c.added) << "case before=" << testing::PrintToString(std::u16string(c.before));
        EXPECT_EQ(SnapshotTargetDrives(), std::u16string(c.after));
    }
}

TEST_F(SettingsState, IsTargetDriveComparesUnitsExactly) {
    ReplaceTargetDrives(u"e F");
    EXPECT_FALSE(IsTargetDrive(u'E'));
    EXPECT_TRUE(IsTargetDrive(u'e'));
    EXPECT_TRUE(IsTargetDrive(u'F'));
    EXPECT_TRUE(IsTargetDrive(u' '));
}

TEST_F(SettingsState, FlipEnabledTwiceRestores) {
    for (int start : {0, 1}) {
        SetEnabled(start);
        FlipEnabled();
        EXPECT_EQ(Settings.Enabled.load(), 1 - start);
        FlipEnabled();
        EXPECT_EQ(Settings.Enabled.load(), start);
    }
}

TEST_F(SettingsState, WakeWorkerWithoutEventDoesNothing) {
    platform::CloseHandle(WakeEvent);
    WakeEvent = nullptr;
    fake::ClearCalls();
    WakeWorker();
    EXPECT_EQ(fake::CountCalls("SetEvent"), 0);
}

TEST_F(SettingsState, SnapshotIsUnaffectedByLaterChanges) {
    ReplaceTargetDrives(u"EF");
    const std::u16string copy = SnapshotTargetDrives();
    ToggleTargetDrive(u'E');
    EXPECT_EQ(copy, u"EF");
    EXPECT_EQ(SnapshotTargetDrives(), u"F");
}

// The main thread hammers the settings while the worker snapshots them on
// every pass; run under ThreadSanitizer this proves the lock and atomics suffice.
TEST_F(SettingsState, StressToggleAndFlipWhileWorkerRuns) {
    for (char d = 'D'; d <= 'H'; ++d)
        fake::AddDrive(d, Removable());
    StartWorker();
    for (int i = 0; i < 4000; ++i) {
        const char16_t letter = static_cast<char16_t>(u'D' + i % 5);
        if (!ToggleTargetDrive(letter))
            RemoveMarker(letter);
        if (i % 7 == 0)
            FlipEnabled();
        if (i % 11 == 0)
            SetIntervalSec(i % 2 == 0 ? 15 : 30);
        WakeWorker();
        if (i % 97 == 0)
            fake::AdvanceClock(30000);
    }
    StopWorker();
    // Every letter was toggled an even number of times, and no pass may have
    // left a marker behind on a drive that was dropped meanwhile.
    EXPECT_EQ(SnapshotTargetDrives(), u"");
    for (char16_t d = u'D'; d <= u'H'; ++d)
        EXPECT_FALSE(fake::HasFile(MarkerPath(d))) << static_cast<char>(d);
}
