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

std::u16string MarkerPath(char16_t letter) { return DriveRootPath(letter) + u".kestrun.dat"; }

// A pass works on a copy of the targets taken before it started, and the user
// may drop a drive at any moment of it; a dropped drive must not keep a
// marker. One rule covers it: whatever the pass holds open it shares for
// deletion (the drop's RemoveMarker then succeeds and the file goes when the
// pass lets go), and the marker is made only for a drive that is a target
// both before and after the making, so a drop that came in between is undone.
bool EnsureMarker(char16_t letter) {
    const std::u16string path = MarkerPath(letter);
    const std::uint32_t attributes = platform::GetFileAttributesW(path);
    if (attributes != platform::InvalidFileAttributes && (attributes & platform::FileAttributeDirectory) == 0)
        return true;
    if (!IsTargetDrive(letter))
        return false;
    const platform::Handle file =
        platform::CreateFileW(path, platform::GenericWrite, platform::FileShareRead | platform::FileShareDelete,
                              platform::CreateAlways, platform::FileAttributeHidden | platform::FileAttributeSystem);
    if (file == platform::InvalidHandleValue)
        return false;
    std::uint32_t written = 0;
    platform::WriteFile(file, ZeroBlock, MarkerSize, &written);
    platform::FlushFileBuffers(file);
    platform::CloseHandle(file);
    // A short marker (a full drive) would be answered from the file system's
    // own tables and never reach the device: delete it, and a later pass makes it whole.
    if (written != MarkerSize || !IsTargetDrive(letter)) {
        DeleteMarkerFile(path);
        return false;
    }
    return true;
}

void RemoveMarker(char16_t letter) { DeleteMarkerFile(MarkerPath(letter)); }
