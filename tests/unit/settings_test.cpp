#include "tests/fuzz/read_settings.h"
#include "tests/unit/world.h"

namespace {
using namespace std::string_literals;
const std::string Bom = "\xEF\xBB\xBF";
}  // namespace

TEST(SettingsText, LenientRulesWhateverTheChunking) {
    const std::string utf16 =
        "\xFF\xFEI\0n\0t\0e\0r\0v\0a\0l\0S\0e\0c\0=\0006\0000\0\r\0\n\0D\0r\0i\0v\0e\0s\0=\0E\0B\x30\x41"s;
    const std::tuple<std::string, std::int32_t, std::int32_t, std::u16string> cases[] = {
        {Bom + "Enabled=0\r\nIntervalSec=60\r\nDrives=EF\r\n", 0, 60, u"EF"},  // the first line right after the mark
        {utf16, 1, 60, u"E\u3042\uFFFD"},                                      // UTF-16 LE, a lone last byte
        {"\xFE\xFF\0D\0r\0i\0v\0e\0s\0=\0E\x30\x42\0\n\0E\0n\0a\0b\0l\0e\0d\0=\0000"s, 0, 30, u"E\u3042"},  // ... BE
        {"Drives=\xF0\x9F\x98\x80\r", 1, 30, u"\U0001F600"},  // four bytes of UTF-8; a CR ends the file
        {"Drives=E\rF \r \n", 1, 30, u"E\rF"},                // a lone CR stays, the end is trimmed
        {"Drives= E\0F\n"s, 1, 30, u" E"},                    // the NUL cuts
        {std::string(511, '#') + "Drives=Q\n", 1, 30, u"Q"},  // a new piece after 511 units
        {"Drives=" + std::string(600, 'X'), 1, 30, std::u16string(504, u'X')},
        {"IntervalSec=4294967356\nEnabled=-9999999999", 1, 30, u""},  // saturates, then out of range
        {"IntervalSec= \t+3600x\nEnabled=abc", 0, 3600, u""},
        {"IntervalSec=15\nIntervalSec=5\nIntervalSec=4\nIntervalSec=3601", 1, 5, u""},  // the last valid line wins
        {"enabled=0\n Enabled=0\nEnabled =0\nIntervalSec=\xEF\xBC\x96\xEF\xBC\x90", 1, 30, u""},  // exact keys
        {"Drives=E\xFF\xE3\x81"
         "F\xE3",
         1, 30, u"E\uFFFD\uFFFDF\uFFFD"},  // invalid UTF-8, and cut short at the end
    };
    for (const auto& [bytes, enabled, interval, drives] : cases)
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, bytes.size()}) {
            const auto v = ReadSettings(bytes, chunk);
            EXPECT_TRUE(v.Enabled == enabled && v.IntervalSec == interval && v.Drives == drives)
                << bytes << " in chunks of " << chunk;
        }
}

TEST(SettingsText, SaveWritesUtf8) {
    EXPECT_EQ(
        FormatSettingsFile(0, 120, u"E\u00e9\u3042\U0001F600\xD800"),
        Bom +
            "# Kestrun "
            "config\r\nEnabled=0\r\nIntervalSec=120\r\nDrives=E\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xEF\xBF\xBD\r\n");
}
