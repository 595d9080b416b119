#include "app/state.h"
#include "drives/drives.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"

namespace {
void DeleteMarkerFile(const std::u16string& path) {
    // Hidden, system and read-only files refuse deletion until their attributes are cleared.
    platform::SetFileAttributesW(path, platform::FileAttributeNormal);
    platform::DeleteFileW(path);
}
}  // namespace

std::u16string MarkerPath(char16_t letter) { return DriveRootPath(letter) + u".kestrun.dat"; }

bool EnsureMarker(char16_t letter) {
    const std::u16string path = MarkerPath(letter);
    const std::uint32_t attributes = platform::GetFileAttributesW(path);
    if (attributes != platform::InvalidFileAttributes && (attributes & platform::FileAttributeDirectory) == 0) {
        // NTFS keeps the zeros of a compressed or sparse file as a hole and
        // answers their read without the disk: such a marker is made anew.
        if ((attributes & (platform::FileAttributeCompressed | platform::FileAttributeSparseFile)) == 0)
            return true;
        DeleteMarkerFile(path);
    }
    // A pass works on a copy of the targets: a drive the user dropped since gets no new marker.
    if (!IsTargetDrive(letter))
        return false;
    // Read access too: switching compression off demands both.
    const platform::Handle file = platform::CreateFileW(
        path, platform::GenericRead | platform::GenericWrite, platform::FileShareRead | platform::FileShareDelete,
        platform::CreateAlways, platform::FileAttributeHidden | platform::FileAttributeSystem);
    if (file == platform::InvalidHandleValue)
        return false;
    // A compressed drive or root folder compresses new files; FAT and exFAT
    // refuse the call, and have no compression to switch off.
    const std::uint16_t format = platform::CompressionFormatNone;
    std::uint32_t returned = 0;
    platform::DeviceIoControl(file, platform::FsctlSetCompression, &format, sizeof format, nullptr, 0, &returned);
    std::uint32_t written = 0;
    // Made when needed: a block of zeros in the program would cost its file 4 KB. The
    // creating write is an ordinary cached write, so no alignment is needed.
    const std::string zeros(MarkerSize, '\0');
    platform::WriteFile(file, zeros.data(), MarkerSize, &written);
    platform::FlushFileBuffers(file);
    platform::CloseHandle(file);
    // A short marker (a full drive) would be answered from the file system's
    // own tables and never reach the device: delete it, and a later pass makes it whole.
    if (written != MarkerSize) {
        DeleteMarkerFile(path);
        return false;
    }
    return true;
}

void RemoveMarker(char16_t letter) { DeleteMarkerFile(MarkerPath(letter)); }
