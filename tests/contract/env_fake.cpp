#include "tests/contract/env.h"
#include "tests/fake/fake.h"
#include "platform/platform.h"

void PrepareContractWorld() {
    fake::Reset();
    fake::AddDrive('C', fake::Drive{platform::DriveFixed, 11, false, false});
    fake::AddDrive('R', fake::Drive{platform::DriveRemovable, 1, false, false});
    fake::AddDrive('S', fake::Drive{platform::DriveFixed, 1, false, false});
    fake::AddDrive('T', fake::Drive{platform::DriveCdrom, 1, true, false});
    fake::AddDrive('U', fake::Drive{platform::DriveRemote, 0, false, true});
    fake::PutDirectory(u"C:\\Users");
    fake::PutDirectory(u"C:\\Users\\Tester");
    fake::PutDirectory(u"C:\\Users\\Tester\\AppData");
    fake::PutDirectory(u"C:\\Users\\Tester\\AppData\\Roaming");
    fake::PutDirectory(u"C:\\Scratch");
    fake::PutRegistryKey(u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
}

std::u16string ScratchFolder() { return u"C:\\Scratch"; }
