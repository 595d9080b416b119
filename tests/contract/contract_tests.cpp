// One source, two worlds: built against the fake on the host and against the
// real Win32 layer under Wine. Whatever passes on one and fails on the other
// is a fault of the fake.
#include <gtest/gtest.h>

#include <cstring>

#include "app/state.h"
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

}  // namespace
