#include "drives/drives.h"

#include <cstring>

#include "platform/platform.h"
#include "state/state.h"

namespace {

bool IsRemovable(char16_t letter) { return platform::GetDriveTypeW(DriveRootPath(letter)) == platform::DriveRemovable; }

constexpr std::uint32_t DosDeviceUnits = 1024;  // far more than a device's name takes

// SUBST makes a letter whose target is a path (\??\C:\Users\me\Media), where a drive's is a
// device (\Device\HarddiskVolume3).
bool IsFolderLetter(std::u16string_view dosDeviceTarget) { return dosDeviceTarget.starts_with(u"\\??\\"); }

// STORAGE_DEVICE_DESCRIPTOR: Version, Size, four type bytes, four offsets, then BusType.
constexpr std::size_t BusTypeOffset = 28;
constexpr std::uint32_t QuerySize = 12;  // STORAGE_PROPERTY_QUERY, all zero: device property, standard query
constexpr std::uint32_t DescriptorSize = 512;

}  // namespace

std::u16string DriveRootPath(char16_t letter) { return std::u16string{letter, u':', u'\\'}; }

// Regardless of case, as Windows treats drive letters; a NUL left by a failed
// Windows-directory lookup matches nothing.
bool IsWindowsDrive(char16_t letter, std::u16string_view systemDrive) {
    return !systemDrive.empty() && (systemDrive[0] | 0x20) == (letter | 0x20);
}

// The kinds of drive that can be chosen, and a drive whose kind Windows cannot
// tell: a letter now held by a network share, an optical drive or a RAM disk
// is never read nor given a marker, nor is the Windows drive typed in by hand.
bool MayKeepAwake(char16_t letter, std::uint32_t driveType, std::u16string_view systemDrive) {
    return !IsWindowsDrive(letter, systemDrive) &&
           (driveType == platform::DriveUnknown || driveType == platform::DriveRemovable ||
            driveType == platform::DriveFixed);
}

// Windows reports a SUBST letter with the type of the drive below it. Such a letter is no drive of its
// own: reading it, or leaving a marker in it, would touch a folder of another drive, maybe the Windows one.
// A target too long for the buffer is no device's name either.
std::uint32_t QueryDriveType(char16_t letter) {
    const std::uint32_t type = platform::GetDriveTypeW(DriveRootPath(letter));
    if (type == platform::DriveNoRootDir)
        return type;
    char16_t target[DosDeviceUnits] = {};
    const bool folder = platform::QueryDosDeviceW(std::u16string{letter, u':'}, target, DosDeviceUnits) != 0
                            ? IsFolderLetter(target)
                            : platform::GetLastError() == platform::ErrorInsufficientBuffer;
    return folder ? platform::DriveNoRootDir : type;
}

std::u16string ListCandidateDrives() {
    std::u16string candidates;
    const std::uint32_t present = platform::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((present & (1u << i)) == 0)
            continue;
        const char16_t letter = static_cast<char16_t>(u'A' + i);
        const std::uint32_t type = QueryDriveType(letter);
        if (type != platform::DriveUnknown && MayKeepAwake(letter, type, AppPaths.SystemDriveLetter))
            candidates.push_back(letter);
    }
    return candidates;
}

std::uint32_t QueryBusType(char16_t letter) {
    const std::u16string device = std::u16string(u"\\\\.\\") + letter + u':';
    // No access rights asked: the storage query needs none, and so no administrator.
    const platform::Handle handle =
        platform::CreateFileW(device, 0, platform::FileShareRead | platform::FileShareWrite, platform::OpenExisting, 0);
    if (handle == platform::InvalidHandleValue)
        return 0;
    unsigned char query[QuerySize] = {};
    unsigned char descriptor[DescriptorSize] = {};
    std::uint32_t returned = 0;
    std::uint32_t bus = 0;
    // A reply too short to reach the bus field leaves it zero from the fill.
    if (platform::DeviceIoControl(handle, platform::IoctlStorageQueryProperty, query, QuerySize, descriptor,
                                  DescriptorSize, &returned))
        std::memcpy(&bus, descriptor + BusTypeOffset, sizeof bus);
    platform::CloseHandle(handle);
    return bus;
}

std::u16string LabelForBus(std::uint32_t busType) {
    switch (busType) {
    case 1: return u"SCSI";
    case 3: return u"ATA";
    case 4: return u"IEEE1394";
    case 7: return u"USB";
    case 8: return u"RAID";
    case 11: return u"SATA";
    case 12: return u"SD";
    case 13: return u"MMC";
    case 17: return u"NVMe";
    default: return u"内蔵";
    }
}

// IEEE 1394, USB, SD and MMC: the buses external disks and cards sit on.
bool IsDefaultBus(std::uint32_t busType) { return busType == 4 || busType == 7 || busType == 12 || busType == 13; }

std::u16string BusLabel(char16_t letter) {
    if (IsRemovable(letter))
        return u"リムーバブル";
    return LabelForBus(QueryBusType(letter));
}

std::u16string DefaultTargetDrives() {
    std::u16string defaults;
    for (const char16_t letter : ListCandidateDrives())
        if (IsRemovable(letter) || IsDefaultBus(QueryBusType(letter)))
            defaults.push_back(letter);
    return defaults;
}
