#include "tests/unit/support.h"

// One pass at a time, run on the test thread: what each target drive costs and leaves behind.
class Pass : public FakeWorld {
protected:
    alignas(4096) unsigned char buffer[4096];
    void Run() { KeepAwakePass(buffer); }
};

TEST_F(Pass, SteadyStateCostsFiveCallsPerDriveAndWritesNothing) {
    fake::AddDrive('E', Removable());
    fake::AddDrive('F', fake::Drive{platform::DriveFixed, 7, false, false});
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    fake::PutFile(u"F:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"EF");
    Run();
    fake::ClearCalls();
    Run();
    for (const char* drive : {"E:", "F:"})
        EXPECT_EQ(fake::CountCalls("GetDriveTypeW", drive) + fake::CountCalls("GetFileAttributesW", drive) +
                      fake::CountCalls("CreateFileW", drive),
                  3)
            << drive;
    const std::vector<std::string> expected = {
        "EnterCriticalSection", "LeaveCriticalSection",
        "GetDriveTypeW", "GetFileAttributesW", "CreateFileW", "ReadFile", "CloseHandle",
        "GetDriveTypeW", "GetFileAttributesW", "CreateFileW", "ReadFile", "CloseHandle"};
    std::vector<std::string> names;
    for (const fake::Call& c : fake::Calls())
        names.push_back(c.Name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(fake::BytesWritten(), 0u);
    EXPECT_EQ(fake::OpenHandleCount("E:"), 0);
}

TEST_F(Pass, MissingMarkerIsCreatedAndReadInTheSamePass) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    Run();
    const fake::File marker = fake::GetFile(u"E:\\.kestrun.dat");
    EXPECT_EQ(marker.Bytes, std::string(4096, '\0'));
    EXPECT_EQ(marker.Attributes, platform::FileAttributeHidden | platform::FileAttributeSystem);
    EXPECT_EQ(fake::CountCalls("ReadFile"), 1);
    EXPECT_EQ(fake::CountCalls("FlushFileBuffers"), 1);
}

TEST_F(Pass, MarkerThatVanishesBeforeTheOpenIsMadeAgainAndRead) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"E");
    fake::BeforeCall("CreateFileW", 1, [] { fake::RemovePath(u"E:\\.kestrun.dat"); });
    Run();
    EXPECT_EQ(fake::GetFile(u"E:\\.kestrun.dat").Bytes, std::string(4096, '\0'));
    EXPECT_EQ(fake::CountCalls("ReadFile"), 1);
}

TEST_F(Pass, OpenThatFailsTwiceSkipsTheDrive) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"E");
    fake::FailCall("CreateFileW", 1);
    fake::FailCall("CreateFileW", 2);
    Run();
    EXPECT_EQ(fake::CountCalls("CreateFileW"), 2) << "no third attempt";
    EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
}

// Drives the pass must leave alone, pass after pass, without a word.
TEST_F(Pass, UnusableTargetsAreSkippedQuietly) {
    struct Case {
        const char* name;
        bool present;
        bool writeProtected;
        bool directoryInTheWay;
        int driveTypeQueries;
        int otherCalls;
    } cases[] = {
        {"absent drive costs only the drive-type query", false, false, false, 1, 0},
        {"write-protected medium without a marker", true, true, false, 1, 3},
        {"directory named like the marker", true, false, true, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        platform::InitializeCriticalSection(&SettingsLock);
        if (c.present)
            fake::AddDrive('E', fake::Drive{platform::DriveRemovable, 0, c.writeProtected, false});
        if (c.directoryInTheWay)
            fake::PutDirectory(u"E:\\.kestrun.dat");
        ReplaceTargetDrives(u"E");
        for (int pass = 0; pass < 2; ++pass) {
            fake::ClearCalls();
            Run();
            int other = 0;
            for (const fake::Call& call : fake::Calls())
                if (call.Arg.find("E:") != std::string::npos && call.Name != "GetDriveTypeW")
                    ++other;
            EXPECT_EQ(fake::CountCalls("GetDriveTypeW", "E:"), c.driveTypeQueries);
            // Attribute test, failed creation; then the same again after the failed open is not reached.
            EXPECT_EQ(other, c.otherCalls == 0 ? 0 : 2);
            EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
            EXPECT_EQ(fake::BytesWritten(), 0u);
        }
        if (c.directoryInTheWay)
            EXPECT_TRUE(fake::HasDirectory(u"E:\\.kestrun.dat"));
    }
}

TEST_F(Pass, RepeatedAndLowerCaseLettersAreUsedAsTheyStand) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"EeE");
    Run();
    EXPECT_EQ(fake::CountCalls("ReadFile"), 3);
    EXPECT_EQ(fake::CountCalls("GetDriveTypeW", "e:\\"), 1);
    EXPECT_EQ(fake::CountCalls("CreateFileW", "e:\\.kestrun.dat"), 1);
}

TEST_F(Pass, DroppedDriveIsNotGivenItsMarkerBack) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    // The user drops E after the pass copied the targets, before it creates the marker.
    fake::BeforeCall("GetFileAttributesW", 1, [] {
        ToggleTargetDrive(u'E');
        RemoveMarker(u'E');
    });
    Run();
    EXPECT_FALSE(fake::HasFile(u"E:\\.kestrun.dat"));
    EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
}

TEST_F(Pass, DriveDroppedWhileItsMarkerIsBeingMadeLosesItAgain) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    fake::BeforeCall("WriteFile", 1, [] {
        ToggleTargetDrive(u'E');
        RemoveMarker(u'E');  // fails: the file is still open without delete sharing
    });
    Run();
    EXPECT_FALSE(fake::HasFile(u"E:\\.kestrun.dat"));
    EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
}

TEST_F(Pass, ShortCreationLeavesTheFileForTheNextPass) {
    fake::AddDrive('E', Removable());
    ReplaceTargetDrives(u"E");
    fake::FailCall("WriteFile", 1, false, 100);
    Run();
    EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
    EXPECT_EQ(fake::GetFile(u"E:\\.kestrun.dat").Bytes.size(), 3996u);
    fake::ClearCalls();
    Run();
    EXPECT_EQ(fake::CountCalls("ReadFile"), 1);
    EXPECT_EQ(fake::BytesWritten(), 0u) << "an existing marker is never rewritten";
}

TEST_F(Pass, WithoutABufferReadsAreSkippedAndHandlesStillClosed) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", Marker());
    ReplaceTargetDrives(u"E");
    KeepAwakePass(nullptr);
    EXPECT_EQ(fake::CountCalls("ReadFile"), 0);
    EXPECT_EQ(fake::OpenHandleCount("E:"), 0);
}

TEST_F(Pass, RemoveMarkerClearsAttributesThenDeletes) {
    fake::AddDrive('E', Removable());
    fake::PutFile(u"E:\\.kestrun.dat", fake::File{0x27, std::string(4096, '\0'), false});
    RemoveMarker(u'E');
    EXPECT_FALSE(fake::HasFile(u"E:\\.kestrun.dat"));
    fake::RemoveDrive('E');
    RemoveMarker(u'E');  // an absent drive fails quietly
}
