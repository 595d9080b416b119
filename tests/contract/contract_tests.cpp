// One source, two worlds: built against the fake on the host and against the
// real Win32 layer under Wine. Whatever passes on one and fails on the other
// is a fault of the fake.
#include <gtest/gtest.h>

#include <cstring>

#include "app/state.h"
#include "drives/drives.h"
#include "settings/settings.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"
#include "tests/contract/env.h"

namespace {

const std::u16string MarkerOnR = u"R:\\.kestrun.dat";

class Contract : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareContractWorld();
        platform::InitializeCriticalSection(&SettingsLock);
        ReplaceTargetDrives(u"R");
        RemoveMarker(u'R');
    }
    void TearDown() override {
        RemoveMarker(u'R');
        platform::DeleteCriticalSection(&SettingsLock);
    }

    static bool WriteWhole(const std::u16string& path, const std::string& bytes) {
        const platform::Handle file = platform::CreateFileW(path, platform::GenericWrite, 0, platform::CreateAlways,
                                                            platform::FileAttributeNormal);
        if (file == platform::InvalidHandleValue)
            return false;
        std::uint32_t written = 0;
        const bool ok = platform::WriteFile(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written);
        platform::CloseHandle(file);
        return ok && written == bytes.size();
    }

    static std::string ReadWhole(const std::u16string& path) {
        const platform::Handle file =
            platform::CreateFileW(path, platform::GenericRead, platform::FileShareRead, platform::OpenExisting, 0);
        if (file == platform::InvalidHandleValue)
            return "<cannot open>";
        std::string bytes;
        char chunk[1000];
        std::uint32_t n = 0;
        while (platform::ReadFile(file, chunk, sizeof chunk, &n) && n > 0)
            bytes.append(chunk, n);
        platform::CloseHandle(file);
        return bytes;
    }
};

TEST_F(Contract, MarkerIsCreatedHiddenAndSystemWith4096Zeros) {
    ASSERT_TRUE(EnsureMarker(MarkerOnR, u'R'));
    const std::uint32_t attributes = platform::GetFileAttributesW(MarkerOnR);
    ASSERT_NE(attributes, platform::InvalidFileAttributes);
    EXPECT_EQ(attributes & (platform::FileAttributeHidden | platform::FileAttributeSystem),
              platform::FileAttributeHidden | platform::FileAttributeSystem);
    EXPECT_EQ(attributes & platform::FileAttributeDirectory, 0u);
    EXPECT_TRUE(ReadWhole(MarkerOnR) == std::string(4096, '\0')) << "marker bytes";
    // An existing marker is accepted as it is.
    EXPECT_TRUE(EnsureMarker(MarkerOnR, u'R'));
}

TEST_F(Contract, UnbufferedReadFillsAPageAlignedBuffer) {
    ASSERT_TRUE(EnsureMarker(MarkerOnR, u'R'));
    void* buffer = platform::VirtualAlloc(nullptr, 4096, platform::MemReserve | platform::MemCommit,
                                          platform::PageReadwrite);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 4096, 0u);
    std::memset(buffer, 0xAB, 4096);
    const platform::Handle file =
        platform::CreateFileW(MarkerOnR, platform::GenericRead, platform::FileShareRead | platform::FileShareWrite,
                              platform::OpenExisting, platform::FileFlagNoBuffering);
    ASSERT_NE(file, platform::InvalidHandleValue);
    std::uint32_t read = 0;
    EXPECT_TRUE(platform::ReadFile(file, buffer, 4096, &read));
    EXPECT_EQ(read, 4096u);
    EXPECT_EQ(static_cast<unsigned char*>(buffer)[4095], 0);
    EXPECT_TRUE(platform::CloseHandle(file));
    EXPECT_TRUE(platform::VirtualFree(buffer, 0, platform::MemRelease));
}

TEST_F(Contract, HiddenSystemMarkerIsRemoved) {
    ASSERT_TRUE(EnsureMarker(MarkerOnR, u'R'));
    RemoveMarker(u'R');
    EXPECT_EQ(platform::GetFileAttributesW(MarkerOnR), platform::InvalidFileAttributes);
    // Removing what is not there is quiet.
    RemoveMarker(u'R');
}

TEST_F(Contract, DirectoryNamedLikeTheMarkerIsNeverReplaced) {
    ASSERT_TRUE(platform::CreateDirectoryW(MarkerOnR));
    EXPECT_FALSE(EnsureMarker(MarkerOnR, u'R'));
    EXPECT_NE(platform::GetFileAttributesW(MarkerOnR) & platform::FileAttributeDirectory, 0u);
    EXPECT_FALSE(platform::DeleteFileW(MarkerOnR));
}

TEST_F(Contract, EventsAndWaits) {
    const platform::Handle manual = platform::CreateEventW(true, false);
    const platform::Handle automatic = platform::CreateEventW(false, false);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(automatic, nullptr);
    const platform::Handle both[2] = {manual, automatic};

    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitTimeout);
    EXPECT_TRUE(platform::SetEvent(automatic));
    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitObject0 + 1);
    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitTimeout) << "auto reset";

    EXPECT_TRUE(platform::SetEvent(manual));
    EXPECT_TRUE(platform::SetEvent(automatic));
    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitObject0) << "index 0 wins";
    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitObject0) << "manual stays set";
    EXPECT_TRUE(platform::ResetEvent(manual));
    EXPECT_EQ(platform::WaitForMultipleObjects(2, both, false, 0), platform::WaitObject0 + 1);
    EXPECT_EQ(platform::WaitForSingleObject(manual, 0), platform::WaitTimeout);

    const platform::Handle broken[2] = {manual, nullptr};
    EXPECT_EQ(platform::WaitForMultipleObjects(2, broken, false, 0), platform::WaitFailed);
    EXPECT_TRUE(platform::CloseHandle(manual));
    EXPECT_TRUE(platform::CloseHandle(automatic));
}

// Started with the stop event already set, the worker runs its one pass at
// once and then ends at its first wait.
TEST_F(Contract, WorkerCreatesAndReadsTheMarkerThenEndsOnStop) {
    StopEvent = platform::CreateEventW(true, true);
    WakeEvent = platform::CreateEventW(false, false);
    WorkerThread = platform::CreateThread(0, KeepAwakeWorker, nullptr, 0);
    ASSERT_NE(WorkerThread, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(WorkerThread, 10000), platform::WaitObject0);
    EXPECT_TRUE(ReadWhole(MarkerOnR) == std::string(4096, '\0')) << "marker bytes";
    EXPECT_EQ(platform::GetFileAttributesW(MarkerOnR) & platform::FileAttributeHidden, platform::FileAttributeHidden);
    platform::CloseHandle(WorkerThread);
    platform::CloseHandle(StopEvent);
    platform::CloseHandle(WakeEvent);
    WorkerThread = StopEvent = WakeEvent = nullptr;
}

TEST_F(Contract, RoamingFolderLookupAndFolderCreation) {
    std::u16string folder;
    void* memory = nullptr;
    ASSERT_GE(platform::SHGetKnownFolderPath(platform::KnownFolder::RoamingAppData, 0, &folder, &memory), 0);
    EXPECT_NE(memory, nullptr);
    platform::CoTaskMemFree(memory);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    const std::u16string made = folder + u"\\KestrunContract";
    EXPECT_TRUE(platform::CreateDirectoryW(made));
    EXPECT_FALSE(platform::CreateDirectoryW(made)) << "already there";
    EXPECT_NE(platform::GetFileAttributesW(made) & platform::FileAttributeDirectory, 0u);
}

TEST_F(Contract, ReplaceInOneStep) {
    const std::u16string target = ScratchFolder() + u"\\target.ini", fresh = ScratchFolder() + u"\\target.ini.new";
    ASSERT_TRUE(WriteWhole(target, "old"));
    ASSERT_TRUE(WriteWhole(fresh, "new"));
    EXPECT_FALSE(platform::MoveFileExW(fresh, target, 0)) << "no replacing without the flag";
    EXPECT_TRUE(platform::MoveFileExW(fresh, target, platform::MovefileReplaceExisting | platform::MovefileWriteThrough));
    EXPECT_EQ(ReadWhole(target), "new");
    EXPECT_EQ(platform::GetFileAttributesW(fresh), platform::InvalidFileAttributes);
    EXPECT_TRUE(platform::DeleteFileW(target));
}

TEST_F(Contract, FirstLoadTakesDefaultDrivesAndSaveWritesTheFile) {
    AppPaths.SystemDriveLetter = u"C";
    LoadSettings();
    EXPECT_EQ(SnapshotTargetDrives(), u"R");
    SaveSettings();
    EXPECT_EQ(ReadWhole(AppPaths.SettingsFilePath), FormatSettingsFile(1, 30, u"R"));
    EXPECT_EQ(platform::GetFileAttributesW(AppPaths.SettingsFilePath + u".new"), platform::InvalidFileAttributes);
    ReplaceTargetDrives(u"S\u3042");
    SetIntervalSec(45);
    SaveSettings();
    LoadSettings();
    EXPECT_EQ(SnapshotTargetDrives(), u"S\u3042");
    EXPECT_EQ(Settings.IntervalSec.load(), 45);
    SetIntervalSec(30);
    EXPECT_TRUE(platform::DeleteFileW(AppPaths.SettingsFilePath));
}

TEST_F(Contract, RunValueIsWrittenReadBackAndDeleted) {
    const std::u16string runKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    AppPaths.ProgramPath = u"C:\\Program Files\\Kestrun\\Kestrun.exe";
    SetAutostartRegistered(false);
    EXPECT_FALSE(IsAutostartRegistered());
    SetAutostartRegistered(true);
    EXPECT_TRUE(IsAutostartRegistered());

    platform::Handle key = nullptr;
    ASSERT_EQ(platform::RegOpenKeyExW(platform::HkeyCurrentUser, runKey, 0,
                                      platform::KeyQueryValue | platform::KeySetValue, &key), 0);
    std::uint32_t type = 0, size = 1040;
    char16_t data[520] = {};
    ASSERT_EQ(platform::RegQueryValueExW(key, u"Kestrun", &type, data, &size), 0);
    EXPECT_EQ(type, platform::RegSz);
    EXPECT_EQ(size, (QuotedProgramPath().size() + 1) * 2);
    EXPECT_EQ(std::u16string(data), QuotedProgramPath());

    // Type and size decide, as the registry reports them. The strings carry
    // their terminator within the size, as programs write them.
    struct Case {
        std::uint32_t type;
        std::uint32_t bytes;
        bool registered;
    } cases[] = {{platform::RegExpandSz, 20, false}, {platform::RegSz, 1040, true}, {platform::RegSz, 1042, false}};
    for (const Case& c : cases) {
        std::string blob(c.bytes - 2, 'a');
        blob.append(2, '\0');
        ASSERT_EQ(platform::RegSetValueExW(key, u"Kestrun", c.type, blob.data(), c.bytes), 0);
        EXPECT_EQ(IsAutostartRegistered(), c.registered) << c.type << "/" << c.bytes;
    }
    platform::RegCloseKey(key);
    SetAutostartRegistered(false);
    EXPECT_FALSE(IsAutostartRegistered());
}

TEST_F(Contract, DrivesFollowTheirMappedTypes) {
    const std::uint32_t mask = platform::GetLogicalDrives();
    for (char letter : {'C', 'R', 'S', 'T', 'U'})
        EXPECT_NE(mask & (1u << (letter - 'A')), 0u) << letter;
    EXPECT_EQ(platform::GetDriveTypeW(u"R:\\"), platform::DriveRemovable);
    EXPECT_EQ(platform::GetDriveTypeW(u"S:\\"), platform::DriveFixed);
    EXPECT_EQ(platform::GetDriveTypeW(u"T:\\"), platform::DriveCdrom);
    EXPECT_EQ(platform::GetDriveTypeW(u"U:\\"), platform::DriveRemote);
    EXPECT_EQ(platform::GetDriveTypeW(u"Q:\\"), platform::DriveNoRootDir);
    AppPaths.SystemDriveLetter = u"C";
    EXPECT_EQ(ListCandidateDrives(), u"RS");
}

TEST_F(Contract, DeviceOpenedWithoutAccessAnswersTheStorageQuery) {
    EXPECT_EQ(QueryBusType(u'S'), 1u);
    EXPECT_EQ(BusLabel(u'S'), u"SCSI");
    EXPECT_EQ(BusLabel(u'R'), u"リムーバブル");
    EXPECT_EQ(QueryBusType(u'Q'), 0u);
}

}  // namespace
