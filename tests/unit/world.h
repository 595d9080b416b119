#pragma once
// A clean fake world for each host test: the defaults, the lock, both events.
#include <gtest/gtest.h>

#include "keepawake/keepawake.h"
#include "settings/settings.h"
#include "state/state.h"
#include "tests/fake/fake.h"

struct World : ::testing::Test {
    void SetUp() override {
        fake::Reset();
        Settings.Enabled = 1;
        Settings.IntervalSec = 30;
        RemadeMarkers.clear();
        AppPaths = {u"C:\\K\\Kestrun.exe", u"C:\\K\\config.ini", u"C"};
        platform::InitializeCriticalSection(&SettingsLock);
        ReplaceTargetDrives(u"");
        Settings.DroppedDrives.clear();
        SettingsFileUnread = false;
        SettingsSaveFailures = 0;
        StopEvent = platform::CreateEventW(true, false);
        WakeEvent = platform::CreateEventW(false, false);
    }
    void TearDown() override {
        platform::CloseHandle(StopEvent);
        platform::CloseHandle(WakeEvent);
        platform::DeleteCriticalSection(&SettingsLock);
        EXPECT_EQ(fake::LockViolations, 0) << "a platform call was made while SettingsLock was held";
        // A handle left open to a USB disk blocks its safe removal.
        EXPECT_EQ(fake::OpenHandles(), "") << "handles left open";
    }
    // Enabled, IntervalSec and TargetDrives, as in "1 30 EF".
    static std::string State() {
        return std::to_string(Settings.Enabled) + " " + std::to_string(Settings.IntervalSec) + " " +
               fake::Ascii(SnapshotTargetDrives());
    }
};
