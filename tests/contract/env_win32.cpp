#include "tests/contract/env.h"

#include <windows.h>

// The script that runs these tests maps the drives in a fresh Wine prefix;
// here only what an earlier test may have left on R: is cleared away.
void PrepareContractWorld() {
    SetFileAttributesW(L"R:\\.kestrun.dat", FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(L"R:\\.kestrun.dat");
    RemoveDirectoryW(L"R:\\.kestrun.dat");
}

std::u16string ScratchFolder() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"KESTRUN_SCRATCH", buffer, MAX_PATH);
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), n);
}
