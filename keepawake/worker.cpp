#include "drives/drives.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"
#include "state/state.h"

namespace {

constexpr std::uint32_t LongestWorkerWaitMs = 3000;

// No buffering: a read served from the system cache would never reach the drive.
platform::Handle OpenMarkerUnbuffered(const std::u16string& path, std::uint32_t access) {
    return platform::CreateFileW(path, access,
                                 platform::FileShareRead | platform::FileShareWrite | platform::FileShareDelete,
                                 platform::OpenExisting, platform::FileFlagNoBuffering);
}

// Every read would stamp the marker's last-access time, which NTFS and FAT
// write back to the disk: a handle that may write attributes tells the file
// system not to. Where that access is refused (a write-protected medium, an
// access list), the marker is read all the same.
platform::Handle OpenMarker(const std::u16string& path) {
    const platform::Handle file = OpenMarkerUnbuffered(path, platform::GenericRead | platform::FileWriteAttributes);
    if (file == platform::InvalidHandleValue)
        return OpenMarkerUnbuffered(path, platform::GenericRead);
    const platform::FileTime keepLastAccess = {0xFFFFFFFFu, 0xFFFFFFFFu};
    platform::SetFileTime(file, nullptr, &keepLastAccess, nullptr);
    return file;
}

// Off the window's thread: a dropped drive that has spun down takes seconds to
// answer. A letter whose drive is gone, or is now of a kind never given a
// marker, is let go; any other stays while its marker is held by another program.
void RemoveDroppedMarkers() {
    for (const char16_t letter : DroppedDrivesToClear())
        if (!MayKeepAwake(letter, QueryDriveType(letter), AppPaths.SystemDriveLetter) || RemoveMarker(letter))
            ForgetDroppedDrive(letter);
}

}  // namespace

void KeepAwakePass(void* readBuffer) {
    const std::u16string targets = SnapshotTargetDrives();
    for (const char16_t letter : targets) {
        if (!MayKeepAwake(letter, QueryDriveType(letter), AppPaths.SystemDriveLetter))
            continue;
        std::u16string path = EnsureMarker(letter);
        if (path.empty())
            continue;
        platform::Handle file = OpenMarker(path);
        if (file == platform::InvalidHandleValue) {
            // The marker may have vanished between the test and the open: make it once more.
            path = EnsureMarker(letter);
            if (path.empty())
                continue;
            file = OpenMarker(path);
            if (file == platform::InvalidHandleValue)
                continue;
        }
        std::uint32_t read = 0;
        // Without a buffer the read is skipped rather than handed a null pointer.
        if (readBuffer != nullptr)
            platform::ReadFile(file, readBuffer, MarkerSize, &read);
        platform::CloseHandle(file);
    }
}

std::uint32_t KeepAwakeWorker(void*) {
    // Page-aligned, as unbuffered reads demand for 512- and 4096-byte sectors.
    void* const readBuffer = platform::VirtualAlloc(nullptr, MarkerSize, platform::MemReserve | platform::MemCommit,
                                                    platform::PageReadwrite);
    const platform::Handle waitList[2] = {StopEvent, WakeEvent};
    for (;;) {
        RemoveDroppedMarkers();
        if (Settings.Enabled.load() != 0)
            KeepAwakePass(readBuffer);
        const std::uint32_t timeout = static_cast<std::uint32_t>(Settings.IntervalSec.load()) * 1000u;
        const std::uint32_t result = platform::WaitForMultipleObjects(2, waitList, false, timeout);
        if (result == platform::WaitObject0)
            break;
        if (result == platform::WaitFailed) {
            // A broken wait list must not turn into passes back to back: sit out
            // the interval on the stop event alone, or plainly sleep if even that fails.
            const std::uint32_t stop = platform::WaitForSingleObject(StopEvent, timeout);
            if (stop == platform::WaitObject0)
                break;
            if (stop == platform::WaitFailed)
                platform::Sleep(timeout);
        }
        platform::ResetEvent(WakeEvent);
    }
    // A drive dropped just before exit loses its marker too, within shutdown's wait.
    RemoveDroppedMarkers();
    if (readBuffer != nullptr)
        platform::VirtualFree(readBuffer, 0, platform::MemRelease);
    return 0;
}

// A pass over a drive slow to answer may outlast the wait; its clean-up of dropped drives comes after it.
bool StopKeepAwakeWorker() { return WaitForKeepAwakeWorker(AskKeepAwakeWorkerToStop()); }

std::uint64_t AskKeepAwakeWorkerToStop() {
    platform::SetEvent(StopEvent);
    return platform::GetTickCount64();
}

// What remains of the bound since the stop was asked.
bool WaitForKeepAwakeWorker(std::uint64_t askedAt) {
    const std::uint64_t spent = platform::GetTickCount64() - askedAt;
    const std::uint32_t left =
        spent < LongestWorkerWaitMs ? LongestWorkerWaitMs - static_cast<std::uint32_t>(spent) : 0;
    return platform::WaitForSingleObject(WorkerThread, left) == platform::WaitObject0;
}
