#include "drives/drives.h"
#include "settings/settings.h"
#include "tests/unit/support.h"

namespace {

const std::u16string Folder = u"C:\\Users\\Tester\\AppData\\Roaming";
const std::u16string Path = Folder + u"\\Kestrun\\config.ini";
const std::string OldFile = "\xEF\xBB\xBF# Kestrun config\r\nEnabled=1\r\nIntervalSec=60\r\nDrives=EF\r\n";

class SettingsStore : public FakeWorld {
protected:
    void SetUp() override {
        FakeWorld::SetUp();
        fake::AddDrive('C', fake::Drive{platform::DriveFixed, 17, false, false});
        fake::AddDrive('E', Removable());
        fake::AddDrive('F', fake::Drive{platform::DriveFixed, 7, false, false});
        fake::AddDrive('G', fake::Drive{platform::DriveFixed, 11, false, false});
        for (const char16_t* dir : {u"C:\\Users", u"C:\\Users\\Tester", u"C:\\Users\\Tester\\AppData"})
            fake::PutDirectory(dir);
        fake::PutDirectory(Folder);
        AppPaths.SystemDriveLetter = u"C";
    }
    static void PutSettings(const std::string& bytes) {
        fake::PutDirectory(Folder + u"\\Kestrun");
        fake::PutFile(Path, fake::File{0x80, bytes, false});
    }
};

}  // namespace

TEST_F(SettingsStore, FirstStartTakesDefaultsAndWritesThem) {
    LoadSettings();
    EXPECT_EQ(AppPaths.SettingsFilePath, Path);
    EXPECT_TRUE(fake::HasDirectory(Folder + u"\\Kestrun"));
    EXPECT_EQ(SnapshotTargetDrives(), u"EF");
    SaveSettings();
    EXPECT_EQ(fake::GetFile(Path).Bytes, FormatSettingsFile(1, 30, u"EF"));
    EXPECT_FALSE(fake::HasFile(Path + u".new"));
    EXPECT_EQ(fake::CountCalls("CoTaskMemFree"), 1);
}

TEST_F(SettingsStore, LoadStoresTheDefaultsBeforeReading) {
    struct Case {
        const char* name;
        std::string bytes;
        std::int32_t enabled, interval;
        std::u16string drives;
    } cases[] = {
        {"canonical file", OldFile, 1, 60, u"EF"},
        {"comment only: no drives, not the defaults", "# Kestrun config\r\n", 1, 30, u""},
        {"big-endian mark counts as no file", "\xFE\xFF\0E", 1, 30, u"EF"},
        {"drives that are not present stay", "Drives=xQ\n", 1, 30, u"xQ"},
    };
    for (const Case& c : cases) {
        SetEnabled(0);
        SetIntervalSec(120);
        PutSettings(c.bytes);
        LoadSettings();
        EXPECT_EQ(Settings.Enabled.load(), c.enabled) << c.name;
        EXPECT_EQ(Settings.IntervalSec.load(), c.interval) << c.name;
        EXPECT_EQ(SnapshotTargetDrives(), c.drives) << c.name;
    }
}

TEST_F(SettingsStore, FailedFolderLookupUsesConfigAtTheRoot) {
    fake::SetKnownFolder(u"");
    LoadSettings();
    EXPECT_EQ(AppPaths.SettingsFilePath, u"\\config.ini");
    EXPECT_EQ(fake::CountCalls("CreateDirectoryW"), 0);
    EXPECT_EQ(fake::CountCalls("CoTaskMemFree"), 0);
}

TEST_F(SettingsStore, BigFileLoadsInBoundedChunksAndLastLineWins) {
    std::string bytes = "\xEF\xBB\xBF";
    const std::string filler = "# " + std::string(300, 'x') + "\r\nDrives=" + std::string(700, 'Q') + "\r\n";
    while (bytes.size() < (8u << 20))
        bytes += filler;
    bytes += "IntervalSec=120\r\nDrives=G\r\n";
    PutSettings(bytes);
    LoadSettings();
    EXPECT_EQ(SnapshotTargetDrives(), u"G");
    EXPECT_EQ(Settings.IntervalSec.load(), 120);
    EXPECT_GE(fake::CountCalls("ReadFile"), 128) << "read in chunks, not whole";
}

// Whatever fails on the way, the old file stays whole and no temporary file is left.
TEST_F(SettingsStore, FailedSaveLeavesTheOldFileIntact) {
    struct Case {
        const char* name;
        const char* call;
        std::uint32_t shortBy;
        int times;
    } cases[] = {
        {"cannot create the new file", "CreateFileW", 0, 1},
        {"write fails", "WriteFile", 0, 1},
        {"short write", "WriteFile", 10, 1},
        {"flush fails", "FlushFileBuffers", 0, 1},
        {"replace fails every time", "MoveFileExW", 0, 5},
    };
    for (const Case& c : cases) {
        PutSettings(OldFile);
        LoadSettings();
        FlipEnabled();
        for (int i = 1; i <= c.times; ++i)
            fake::FailCall(c.call, i, false, c.shortBy);
        SaveSettings();
        EXPECT_EQ(fake::GetFile(Path).Bytes, OldFile) << c.name;
        EXPECT_FALSE(fake::HasFile(Path + u".new")) << c.name;
        SaveSettings();  // the next save tries again and succeeds
        EXPECT_EQ(fake::GetFile(Path).Bytes, FormatSettingsFile(0, 60, u"EF")) << c.name;
    }
}

// A file held by another program for a moment is waited for; one that stays
// held, or is plainly not there, is treated as missing.
TEST_F(SettingsStore, OpenWaitsOutABriefSharingConflict) {
    struct Case {
        const char* name;
        std::uint32_t error;
        int failures;
        std::u16string drives;
        int sleeps;
    } cases[] = {
        {"held twice, then free", platform::ErrorSharingViolation, 2, u"G", 2},
        {"locked once", platform::ErrorLockViolation, 1, u"G", 1},
        {"held throughout", platform::ErrorSharingViolation, 10, u"EF", 9},
        {"access denied is no conflict", 5, 1, u"EF", 0},
    };
    for (const Case& c : cases) {
        PutSettings("Drives=G\r\n");
        fake::ClearCalls();
        const std::size_t before = fake::WaitTimeouts().size();
        for (int i = 1; i <= c.failures; ++i)
            fake::FailCall("CreateFileW", i, false, 0, c.error);
        LoadSettings();
        EXPECT_EQ(SnapshotTargetDrives(), c.drives) << c.name;
        EXPECT_EQ(static_cast<int>(fake::WaitTimeouts().size() - before), c.sleeps) << c.name;
    }
}

// Someone reading the file at the moment of the replace holds it for a moment only.
TEST_F(SettingsStore, ReplaceIsRetriedBriefly) {
    PutSettings(OldFile);
    LoadSettings();
    FlipEnabled();
    fake::FailCall("MoveFileExW", 1);
    fake::FailCall("MoveFileExW", 2);
    SaveSettings();
    EXPECT_EQ(fake::GetFile(Path).Bytes, FormatSettingsFile(0, 60, u"EF"));
    EXPECT_EQ(fake::CountCalls("MoveFileExW"), 3);
    EXPECT_EQ(fake::WaitTimeouts(), (std::vector<std::uint32_t>{20, 20}));
    EXPECT_FALSE(fake::HasFile(Path + u".new"));
}

TEST_F(SettingsStore, RemovedFolderMakesSavesFailQuietlyUntilTheNextStart) {
    LoadSettings();
    fake::RemovePath(Folder + u"\\Kestrun");
    SaveSettings();
    EXPECT_FALSE(fake::HasFile(Path));
    LoadSettings();
    SaveSettings();
    EXPECT_TRUE(fake::HasFile(Path));
}

TEST_F(SettingsStore, SaveWritesOutsideTheLock) {
    ReplaceTargetDrives(u"E");
    AppPaths.SettingsFilePath = Path;
    fake::PutDirectory(Folder + u"\\Kestrun");
    SaveSettings();
    EXPECT_EQ(fake::LockViolations(), 0);
    EXPECT_EQ(fake::GetFile(Path).Bytes, FormatSettingsFile(1, 30, u"E"));
}
