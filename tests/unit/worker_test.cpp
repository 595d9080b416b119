#include "tests/unit/support.h"

namespace {

int Reads() { return fake::CountCalls("ReadFile"); }

}  // namespace

using Worker = FakeWorld;

TEST_F(Worker, FirstPassRunsAtOnceThenWaitsTheInterval) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"E");
    StartWorker();
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    EXPECT_EQ(Reads(), 1);
    EXPECT_EQ(fake::WaitTimeouts().back(), 30000u);
    fake::AdvanceClock(29999);
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    EXPECT_EQ(Reads(), 1);
    fake::AdvanceClock(1);
    ASSERT_TRUE(fake::AwaitBlockedWaits(2));
    EXPECT_EQ(Reads(), 2);
}

TEST_F(Worker, WakesDuringAPassGiveExactlyOneMorePass) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"E");
    fake::BeforeCall("ReadFile", 1, [] {
        WakeWorker();
        WakeWorker();
        WakeWorker();
    });
    StartWorker();
    // The first wait returns at once for the wake; the second has to block.
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    EXPECT_EQ(Reads(), 2);
    EXPECT_EQ(fake::WaitTimeouts().size(), 2u);
}

TEST_F(Worker, StopEndsTheWorker) {
    struct Case {
        const char* name;
        bool wakeToo;
        bool duringPass;
    } cases[] = {
        {"stop during the wait", false, false},
        {"stop and wake during the wait", true, false},
        {"stop and wake during a pass", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        fake::AddDrive('E', Removable());
        ReplaceTargetDrives(u"E");
        // Stop first, so that a worker already waiting finds both set when it looks.
        auto signal = [&] {
            platform::SetEvent(StopEvent);
            if (c.wakeToo)
                WakeWorker();
        };
        if (c.duringPass)
            fake::BeforeCall("ReadFile", 1, signal);
        StartWorker();
        if (!c.duringPass) {
            ASSERT_TRUE(fake::AwaitBlockedWaits(1));
            signal();
        }
        EXPECT_EQ(platform::WaitForSingleObject(WorkerThread, platform::Infinite), platform::WaitObject0);
        EXPECT_EQ(Reads(), 1) << "no pass may follow the stop";
        EXPECT_EQ(fake::CountCalls("VirtualFree"), 1);
        platform::CloseHandle(WorkerThread);
        WorkerThread = nullptr;
    }
}

TEST_F(Worker, DisabledTouchesNoDriveUntilSwitchedOnAndWoken) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    SetEnabled(0);
    StartWorker();
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    fake::AdvanceClock(30000);
    ASSERT_TRUE(fake::AwaitBlockedWaits(2));
    EXPECT_EQ(fake::CountCalls("GetDriveTypeW"), 0);
    EXPECT_EQ(fake::CountCalls("GetFileAttributesW"), 0);
    SetEnabled(1);
    WakeWorker();
    ASSERT_TRUE(fake::AwaitBlockedWaits(3));
    EXPECT_EQ(Reads(), 1);
}

TEST_F(Worker, WaitFollowsTheCurrentInterval) {
    StartWorker();
    int waits = 1;
    ASSERT_TRUE(fake::AwaitBlockedWaits(waits));
    for (std::int32_t seconds : {15, 120, 3600, 5}) {
        SetIntervalSec(seconds);
        WakeWorker();
        ASSERT_TRUE(fake::AwaitBlockedWaits(++waits));
        EXPECT_EQ(fake::WaitTimeouts().back(), static_cast<std::uint32_t>(seconds) * 1000u);
    }
}

TEST_F(Worker, FailingWaitPausesForTheIntervalAndStillStops) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    fake::FailCall("WaitForMultipleObjects", 1, true);
    StartWorker();
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    EXPECT_EQ(Reads(), 1) << "a failed wait must not be followed by a pass at once";
    fake::AdvanceClock(30000);
    ASSERT_TRUE(fake::AwaitBlockedWaits(2));
    EXPECT_EQ(Reads(), 2);
    platform::SetEvent(StopEvent);
    EXPECT_EQ(platform::WaitForSingleObject(WorkerThread, platform::Infinite), platform::WaitObject0);
    EXPECT_EQ(Reads(), 2);
}

TEST_F(Worker, WithoutAnyEventsItSleepsBetweenPasses) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    const platform::Handle stop = StopEvent, wake = WakeEvent;
    StopEvent = WakeEvent = nullptr;
    StartWorker();
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));
    EXPECT_EQ(fake::CountCalls("Sleep"), 1);
    EXPECT_EQ(Reads(), 1);
    fake::AdvanceClock(30000);
    ASSERT_TRUE(fake::AwaitBlockedWaits(2));
    EXPECT_EQ(Reads(), 2);
    // The stop event it looks at after a failed wait ends it even then.
    StopEvent = stop;
    WakeEvent = wake;
    platform::SetEvent(StopEvent);
    fake::AdvanceClock(30000);
    EXPECT_EQ(platform::WaitForSingleObject(WorkerThread, platform::Infinite), platform::WaitObject0);
    platform::CloseHandle(WorkerThread);
    WorkerThread = nullptr;
}
