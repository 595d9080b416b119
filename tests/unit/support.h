#pragma once
// Shared set-up for host tests: a clean fake, the lock, the events, and the
// worker on a real thread driven by the fake's virtual clock.
#include <gtest/gtest.h>

#include "app/state.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"
#include "tests/fake/fake.h"

class FakeWorld : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        platform::InitializeCriticalSection(&SettingsLock);
        Settings.Enabled = 1;
        Settings.IntervalSec = 30;
        ReplaceTargetDrives(u"");
        AppPaths = AppPathsRecord{};
        StopEvent = platform::CreateEventW(true, false);
        WakeEvent = platform::CreateEventW(false, false);
        WorkerThread = nullptr;
    }

    void TearDown() override {
        if (WorkerThread != nullptr)
            StopWorker();
        EXPECT_EQ(fake::LockViolations(), 0) << "a platform call was made while SettingsLock was held";
        platform::DeleteCriticalSection(&SettingsLock);
        fake::Reset();
        StopEvent = WakeEvent = nullptr;
    }

    void StartWorker() { WorkerThread = platform::CreateThread(0, KeepAwakeWorker, nullptr, 0); }

    // Ends the worker through the stop event and waits for it without a real time-out.
    void StopWorker() {
        platform::SetEvent(StopEvent);
        EXPECT_EQ(platform::WaitForSingleObject(WorkerThread, platform::Infinite), platform::WaitObject0);
        platform::CloseHandle(WorkerThread);
        WorkerThread = nullptr;
    }

    static fake::Drive Removable() { return fake::Drive{platform::DriveRemovable, 7, false, false}; }
    static fake::File Marker() { return fake::File{0x26, std::string(4096, '\0'), false}; }
};
