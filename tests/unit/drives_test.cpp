#include "drives/drives.h"
#include "tests/unit/support.h"

using DriveDiscovery = FakeWorld;

TEST(DriveLabels, EveryBusHasItsLabel) {
    const std::pair<std::uint32_t, const char16_t*> table[] = {
        {0, u"内蔵"}, {1, u"SCSI"}, {2, u"内蔵"}, {3, u"ATA"}, {4, u"IEEE1394"}, {5, u"内蔵"}, {6, u"内蔵"},
        {7, u"USB"}, {8, u"RAID"}, {9, u"内蔵"}, {10, u"内蔵"}, {11, u"SATA"}, {12, u"SD"}, {13, u"MMC"},
        {14, u"内蔵"}, {15, u"内蔵"}, {16, u"内蔵"}, {17, u"NVMe"}, {18, u"内蔵"}, {0x7F, u"内蔵"}};
    for (const auto& [bus, label] : table) {
        EXPECT_EQ(LabelForBus(bus), label) << bus;
        EXPECT_EQ(IsDefaultBus(bus), bus == 4 || bus == 7 || bus == 12 || bus == 13) << bus;
    }
}

TEST_F(DriveDiscovery, CandidatesLabelsAndDefaults) {
    struct D {
        char letter;
        std::uint32_t type, bus;
        bool deviceFails;
    } drives[] = {
        {'H', platform::DriveFixed, 7, false},      // external disk reporting fixed, on USB
        {'C', platform::DriveFixed, 7, false},      // the Windows drive, whatever its bus
        {'D', platform::DriveCdrom, 7, false},
        {'E', platform::DriveRemovable, 11, false}, // removable wins over its bus
        {'F', platform::DriveFixed, 17, false},
        {'G', platform::DriveFixed, 0, true},       // device refuses the query
        {'N', platform::DriveRemote, 7, false},
        {'R', platform::DriveRamdisk, 7, false},
        {'S', platform::DriveFixed, 12, false},
        {'T', platform::DriveFixed, 4, false},
        {'U', platform::DriveUnknown, 7, false},
        {'W', platform::DriveFixed, 13, false},
        {'X', platform::DriveFixed, 1, false},
    };
    for (const D& d : drives)
        fake::AddDrive(d.letter, fake::Drive{d.type, d.bus, false, d.deviceFails});
    AppPaths.SystemDriveLetter = u"C";
    EXPECT_EQ(ListCandidateDrives(), u"EFGHSTWX");
    EXPECT_EQ(DefaultTargetDrives(), u"EHSTW");
    const std::pair<char16_t, const char16_t*> labels[] = {{u'E', u"リムーバブル"}, {u'F', u"NVMe"}, {u'G', u"内蔵"},
                                                            {u'H', u"USB"}, {u'X', u"SCSI"}};
    for (const auto& [letter, label] : labels)
        EXPECT_EQ(BusLabel(letter), label);
}

TEST_F(DriveDiscovery, SystemDriveLetterIsComparedExactly) {
    fake::AddDrive('C', Removable());
    fake::AddDrive('E', Removable());
    const std::pair<std::u16string, const char16_t*> cases[] = {
        {u"C", u"E"}, {u"c", u"CE"}, {std::u16string(1, u'\0'), u"CE"}, {u"", u"CE"}};
    for (const auto& [system, expected] : cases) {
        AppPaths.SystemDriveLetter = system;
        EXPECT_EQ(ListCandidateDrives(), expected);
    }
}

TEST_F(DriveDiscovery, RemovableDrivesNeverCostADeviceQuery) {
    fake::AddDrive('E', Removable());
    fake::AddDrive('F', fake::Drive{platform::DriveFixed, 7, false, false});
    AppPaths.SystemDriveLetter = u"C";
    fake::ClearCalls();
    DefaultTargetDrives();
    EXPECT_EQ(fake::CountCalls("CreateFileW", "E:"), 0);
    EXPECT_EQ(fake::CountCalls("CreateFileW", "F:"), 1);
    EXPECT_EQ(fake::CountCalls("CloseHandle"), 1);
}

TEST_F(DriveDiscovery, NoDrivesOrFailedEnumerationGiveNothing) {
    fake::AddDrive('C', fake::Drive{platform::DriveFixed, 7, false, false});
    AppPaths.SystemDriveLetter = u"C";
    EXPECT_EQ(ListCandidateDrives(), u"");
    EXPECT_EQ(DefaultTargetDrives(), u"");
    fake::AddDrive('E', Removable());
    fake::FailCall("GetLogicalDrives", 1);
    EXPECT_EQ(ListCandidateDrives(), u"");
}
