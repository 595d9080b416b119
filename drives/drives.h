#pragma once
// Which drives may be targets, on which bus each sits, and the first-run defaults.
#include <cstdint>
#include <string>
#include <string_view>

// The drive's root path: the letter, a colon and a backslash (E:\ for E).
std::u16string DriveRootPath(char16_t letter);

// The drive's type, or DRIVE_NO_ROOT_DIR for a letter that is only a folder (SUBST).
std::uint32_t QueryDriveType(char16_t letter);
std::u16string ListCandidateDrives();
std::uint32_t QueryBusType(char16_t letter);
std::u16string BusLabel(char16_t letter);
std::u16string DefaultTargetDrives();

// The decisions behind them, free of any system call.
std::u16string LabelForBus(std::uint32_t busType);
bool IsDefaultBus(std::uint32_t busType);
bool IsWindowsDrive(char16_t letter, std::u16string_view systemDrive);
bool MayKeepAwake(char16_t letter, std::uint32_t driveType, std::u16string_view systemDrive);
