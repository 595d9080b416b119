#include "drives/drives.h"
#include "keepawake/keepawake.h"
#include "platform/platform.h"
#include "state/state.h"

std::u16string RemadeMarkers;

namespace {

constexpr std::uint32_t Ours = platform::FileAttributeHidden | platform::FileAttributeSystem;
constexpr char16_t MarkerName[] = u".kestrun.dat";

bool IsAbsent(std::uint32_t error) {
    return error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound;
}

// Deletes the marker file at `path`: ErrorSuccess, ErrorFileNotFound when there is none, or why not.
std::uint32_t DeleteMarkerFile(const std::u16string& path) {
    platform::FileAttributeData found;
    if (!platform::GetFileAttributesExW(path, platform::GetFileExInfoStandard, &found)) {
        const std::uint32_t error = platform::GetLastError();
        return IsAbsent(error) ? platform::ErrorFileNotFound : error;
    }
    if (found.Attributes & platform::FileAttributeDirectory)
        return platform::ErrorFileNotFound;  // not a marker: nothing of ours to delete
    // Only read-only refuses a delete; cleared alone, so a marker that cannot go stays hidden.
    if (found.Attributes & platform::FileAttributeReadonly) {
        const std::uint32_t kept = found.Attributes & (Ours | platform::FileAttributeArchive);
        platform::SetFileAttributesW(path, kept != 0 ? kept : platform::FileAttributeNormal);
    }
    return platform::DeleteFileW(path) ? platform::ErrorSuccess : platform::GetLastError();
}

// Writes the marker whole at `path`; ErrorSuccess, or why not.
std::uint32_t MakeMarker(const std::u16string& path) {
    // Read access too: switching compression off demands both.
    const platform::Handle file =
        platform::CreateFileW(path, platform::GenericRead | platform::GenericWrite,
                              platform::FileShareRead | platform::FileShareDelete, platform::CreateAlways, Ours);
    if (file == platform::InvalidHandleValue)
        return platform::GetLastError();
    // A compressed drive or folder compresses new files; FAT and exFAT refuse
    // the call, and have no compression to switch off.
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
    if (written == MarkerSize)
        return platform::ErrorSuccess;
    // A short marker (a full drive) would be read to its end without reaching
    // the device: delete it, and a later pass makes it whole.
    DeleteMarkerFile(path);
    return platform::ErrorDiskFull;
}

// `absent` tells nothing there from a query that failed for another reason.
MarkerAction JudgeMarkerAt(const std::u16string& path, char16_t letter, bool* absent) {
    platform::FileAttributeData found;
    const bool there = platform::GetFileAttributesExW(path, platform::GetFileExInfoStandard, &found);
    *absent = !there && IsAbsent(platform::GetLastError());
    return JudgeMarker(there, found.Attributes, found.Size, RemadeMarkers.find(letter) != std::u16string::npos);
}

}  // namespace

std::u16string MarkerPath(char16_t letter) { return DriveRootPath(letter) + MarkerName; }
std::u16string MarkerFolder(char16_t letter) { return DriveRootPath(letter) + u".kestrun"; }

MarkerAction JudgeMarker(bool found, std::uint32_t attributes, std::uint64_t size, bool remadeBefore) {
    if (!found)
        return MarkerAction::Make;
    if (attributes & platform::FileAttributeDirectory)
        return MarkerAction::Skip;
    // Reads that never reach the disk: NTFS answers the zeros of a compressed or
    // sparse file from its own tables, and a marker of ours cut short (the stick
    // pulled while it was written) ends before them. Someone else's file stays as it is.
    const bool hollow = (attributes & (platform::FileAttributeCompressed | platform::FileAttributeSparseFile)) != 0;
    const bool cutShort = (attributes & Ours) == Ours && size != MarkerSize;
    // A file system that makes every new file so would have it rewritten on every pass: once is enough.
    return (hollow || cutShort) && !remadeBefore ? MarkerAction::Remake : MarkerAction::Use;
}

std::u16string EnsureMarker(char16_t letter) {
    // The root is the first choice; the folder holds the marker where the root refuses new files.
    const std::u16string root = MarkerPath(letter);
    const std::u16string folder = MarkerFolder(letter);
    const std::u16string inFolder = folder + u"\\" + MarkerName;
    const std::u16string* path = &root;
    bool rootAbsent = false;
    MarkerAction action = JudgeMarkerAt(root, letter, &rootAbsent);
    if (rootAbsent) {
        bool folderAbsent = false;  // no matter: the root stays the place to make it
        const MarkerAction there = JudgeMarkerAt(inFolder, letter, &folderAbsent);
        if (there != MarkerAction::Make) {
            path = &inFolder;
            action = there;
        }
    }
    // A pass works on a copy of the targets: a drive the user dropped since gets no new marker, nor
    // one the user has not chosen (a marker already there that needs no remaking is read all the same).
    if (action == MarkerAction::Skip || (action != MarkerAction::Use && !MayMakeMarker(letter)))
        return u"";
    if (action == MarkerAction::Remake)
        DeleteMarkerFile(*path);
    std::uint32_t error = action == MarkerAction::Use ? platform::ErrorSuccess : MakeMarker(*path);
    if (action == MarkerAction::Remake && error == platform::ErrorSuccess)
        RemadeMarkers.push_back(letter);
    // The root of a disk that once held Windows lets users make folders, but files only inside them.
    if (error == platform::ErrorAccessDenied && action == MarkerAction::Make && rootAbsent) {
        if (platform::CreateDirectoryW(folder))
            platform::SetFileAttributesW(folder, platform::FileAttributeHidden);
        path = &inFolder;
        error = MakeMarker(inFolder);
    }
    return error == platform::ErrorSuccess ? *path : u"";
}

// Wherever the marker is, and our folder once it is empty. False only while another program
// (a virus scanner, a backup) holds the marker: then it is tried again later. A delete refused
// for good (a write-protected card) is not, or the dropped drive would be touched for ever.
bool RemoveMarker(char16_t letter) {
    const std::u16string folder = MarkerFolder(letter);
    const std::uint32_t atRoot = DeleteMarkerFile(MarkerPath(letter));
    const std::uint32_t inFolder = DeleteMarkerFile(folder + u"\\" + MarkerName);
    // A file deleted while another program has it open stays until that one lets go, and the folder with it.
    const bool folderStays = !platform::RemoveDirectoryW(folder) && inFolder == platform::ErrorSuccess;
    const auto held = [](std::uint32_t error) {
        return error == platform::ErrorSharingViolation || error == platform::ErrorLockViolation;
    };
    return !held(atRoot) && !held(inFolder) && !folderStays;
}
