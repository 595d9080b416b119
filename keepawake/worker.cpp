#include "app/state.h"
#include "drives/drives.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"

namespace {

platform::Handle OpenMarkerUnbuffered(const std::u16string& path) {
    // No buffering: a read served from the system cache would never reach the drive.
    // Delete sharing: a drive dropped while the read waits for it to spin up loses its marker all the same.
    return platform::CreateFileW(path, platform::GenericRead,
                                 platform::FileShareRead | platform::FileShareWrite | platform::FileShareDelete,
                                 platform::OpenExisting, platform::FileFlagNoBuffering);
}

}  // namespace

void KeepAwakePass(void* readBuffer) {
    const std::u16string targets = SnapshotTargetDrives();
    for (const char16_t letter : targets) {
        if (platform::GetDriveTypeW(DriveRootPath(letter)) == platform::DriveNoRootDir)
            continue;
        const std::u16string path = MarkerPath(letter);
        if (!EnsureMarker(letter))
            continue;
        platform::Handle file = OpenMarkerUnbuffered(path);
        if (file == platform::InvalidHandleValue) {
            // The marker may have vanished between the test and the open: make it once more.
            if (!EnsureMarker(letter))
                continue;
            file = OpenMarkerUnbuffered(path);
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
    if (readBuffer != nullptr)
        platform::VirtualFree(readBuffer, 0, platform::MemRelease);
    return 0;
}
