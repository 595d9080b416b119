#include "app/state.h"
#include "drives/drives.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"

namespace {
// Never changed; the creating write is an ordinary cached write, so no alignment is needed.
const unsigned char ZeroBlock[MarkerSize] = {};

void DeleteMarkerFile(const std::u16string& path) {
    // Hidden, system and read-only files refuse deletion until their attributes are cleared.
    platform::SetFileAttributesW(path, platform::FileAttributeNormal);
    platform::DeleteFileW(path);
}
}  // namespace

std::u16string MarkerPath(char16_t letter) {
    return DriveRootPath(letter) + u".kestrun.dat";
}

// `letter` is the target the marker belongs to. A pass works on a copy of the
// targets taken before it started; if the user has dropped the drive since,
// its marker was just deleted and must not come back. The second look after
// creating closes the gap where the drive is dropped while the file is made:
// either that look sees the drop, or the drop's own deletion comes later.
bool EnsureMarker(const std::u16string& path, char16_t letter) {
    const std::uint32_t attributes = platform::GetFileAttributesW(path);
    if (attributes != platform::InvalidFileAttributes && (attributes & platform::FileAttributeDirectory) == 0)
        return true;
    if (!IsTargetDrive(letter))
        return false;
    const platform::Handle file =
        platform::CreateFileW(path, platform::GenericWrite, platform::FileShareRead, platform::CreateAlways,
                              platform::FileAttributeHidden | platform::FileAttributeSystem);
    if (file == platform::InvalidHandleValue)
        return false;
    std::uint32_t written = 0;
    platform::WriteFile(file, ZeroBlock, MarkerSize, &written);
    platform::FlushFileBuffers(file);
    platform::CloseHandle(file);
    if (!IsTargetDrive(letter)) {
        DeleteMarkerFile(path);
        return false;
    }
    return written == MarkerSize;
}

void RemoveMarker(char16_t letter) {
    DeleteMarkerFile(MarkerPath(letter));
}
