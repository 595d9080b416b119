#include "tests/contract/env.h"

#include <windows.h>

// The script that runs these tests maps the drives in a fresh Wine prefix and
// empties the scratch folder; nothing is left to prepare here.
void PrepareContractWorld() {}

std::u16string ScratchFolder() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"KESTRUN_SCRATCH", buffer, MAX_PATH);
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), n);
}
