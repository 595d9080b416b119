// Feeds arbitrary bytes, split at arbitrary points, through the settings
// reader and checks that what comes out obeys the rules whatever went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the chunk size, so splits inside sequences get covered.
    const std::size_t chunk = 1 + data[0] % 16;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    SettingsReader reader;
    for (std::size_t at = 0; at < length; at += chunk)
        FeedSettingsBytes(reader, bytes + at, length - at < chunk ? length - at : chunk);
    FinishSettingsBytes(reader);

    const SettingsValues& v = reader.values;
    if (v.Enabled != 0 && v.Enabled != 1)
        std::abort();
    if (v.IntervalSec < 5 || v.IntervalSec > 3600)
        std::abort();
    if (v.Drives.size() > PieceUnits - 7 || v.Drives.find(u'\0') != std::u16string::npos)
        std::abort();
    if (reader.piece.size() != 0 || reader.pending.size() != 0)
        std::abort();

    // Whatever was read saves and reads back the same.
    SettingsReader again;
    const std::string saved = FormatSettingsFile(v.Enabled, v.IntervalSec, v.Drives);
    FeedSettingsBytes(again, saved.data(), saved.size());
    FinishSettingsBytes(again);
    if (again.values.Enabled != v.Enabled || again.values.IntervalSec != v.IntervalSec)
        std::abort();
    return 0;
}
