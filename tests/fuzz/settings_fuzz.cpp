// Arbitrary bytes, split at arbitrary points, through the settings reader:
// what comes out obeys the rules, and saves and reads back the same.
#include <cstdlib>

#include "tests/fuzz/read_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const SettingsValues v = ReadSettings({bytes, size - 1}, 1 + data[0] % 16);
    if ((v.Enabled | 1) != 1 || v.IntervalSec < 5 || v.IntervalSec > 3600 || v.Drives.find(u'\0') != v.Drives.npos)
        std::abort();
    const std::string saved = FormatSettingsFile(v.Enabled, v.IntervalSec, v.Drives);
    const SettingsValues again = ReadSettings(saved, saved.size());
    if (again.Enabled != v.Enabled || again.IntervalSec != v.IntervalSec || again.Drives.size() != v.Drives.size())
        std::abort();
    return 0;
}
