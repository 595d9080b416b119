#pragma once
// What a contract test may rely on, the same on the fake and under Wine:
// drive R is removable, S fixed, T a CD-ROM and U a network drive, each with
// an empty scratch folder as its root.
#include <string>

void PrepareContractWorld();
std::u16string ScratchFolder();  // a writable folder outside the drives, for settings files
