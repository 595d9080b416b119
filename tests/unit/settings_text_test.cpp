#include <gtest/gtest.h>

#include "settings/settings.h"

namespace {

struct Read {
    bool refused;
    SettingsValues values;
};

// Feeds the bytes in chunks of `chunk` so that every split point gets exercised.
Read ReadInChunks(const std::string& bytes, std::size_t chunk) {
    SettingsReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        FeedSettingsBytes(reader, bytes.data() + at, std::min(chunk, bytes.size() - at));
    FinishSettingsBytes(reader);
    return {reader.encoding == SettingsReader::Encoding::Refused, reader.values};
}

std::string Utf16Le(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

struct Case {
    const char* name;
    std::string bytes;
    std::int32_t enabled;
    std::int32_t interval;
    std::u16string drives;
};

}  // namespace

TEST(SettingsFile, LenientReading) {
    const std::string bom = "\xEF\xBB\xBF";
    const Case cases[] = {
        {"empty file", "", 1, 30, u""},
        {"mark only", bom, 1, 30, u""},
        {"comment only", bom + "# Kestrun config\r\n", 1, 30, u""},
        {"canonical", bom + "# Kestrun config\r\nEnabled=0\r\nIntervalSec=60\r\nDrives=EF\r\n", 0, 60, u"EF"},
        {"no mark, LF only", "Enabled=0\nDrives=G\n", 0, 30, u"G"},
        {"no line end at the end", "Drives=EF", 1, 30, u"EF"},
        {"empty drives", "Drives=\r\n", 1, 30, u""},
        {"drives taken as written", "Drives=e F e\t  \r\n", 1, 30, u"e F e\t"},
        {"value with further =", "Drives=E=F\n", 1, 30, u"E=F"},
        {"last drives line wins", "Drives=E\nDrives=F\n", 1, 30, u"F"},
        {"enabled true", "Enabled=true\n", 0, 30, u""},
        {"enabled -1", "Enabled=-1\n", 1, 30, u""},
        {"enabled 2", "Enabled=0\nEnabled=2\n", 1, 30, u""},
        {"enabled leading space", "Enabled=0\nEnabled= 1\n", 1, 30, u""},
        {"key with space before =", "Enabled =0\n", 1, 30, u""},
        {"space before key", " Enabled=0\n", 1, 30, u""},
        {"lower-case key", "enabled=0\n", 1, 30, u""},
        {"interval 4", "IntervalSec=4\n", 1, 30, u""},
        {"interval 3601", "IntervalSec=3601\n", 1, 30, u""},
        {"interval 5", "IntervalSec=5\n", 1, 5, u""},
        {"interval 3600", "IntervalSec=3600\n", 1, 3600, u""},
        {"interval 45", "IntervalSec=45\n", 1, 45, u""},
        {"interval 10abc", "IntervalSec=10abc\n", 1, 10, u""},
        {"interval +15", "IntervalSec=+15\n", 1, 15, u""},
        {"interval overflow saturates, ignored", "IntervalSec=60\nIntervalSec=99999999999999999999\n", 1, 60, u""},
        {"interval -overflow", "IntervalSec=-99999999999999999999\n", 1, 30, u""},
        {"later invalid interval keeps earlier", "IntervalSec=60\nIntervalSec=0\n", 1, 60, u""},
        {"full-width digits are not digits", "IntervalSec=\xEF\xBC\x96\xEF\xBC\x90\n", 1, 30, u""},
        {"section headers and junk ignored", "[Kestrun]\njunk\n=\n\nDrives=H\n", 1, 30, u"H"},
        {"NUL cuts the line", std::string("Drives=EF\0GH\n", 13), 1, 30, u"EF"},
        {"lone CR stays in the value", "Drives=E\rF\n", 1, 30, u"E\rF"},
        {"CR CR LF drops both CRs at the end", "Drives=E\r\r\n", 1, 30, u"E"},
        {"non-ASCII drives", bom + "Drives=\xE3\x81\x82" "E\r\n", 1, 30, u"\u3042E"},
        {"astral character", "Drives=\xF0\x9F\x98\x80\n", 1, 30, u"\U0001F600"},
        {"invalid UTF-8 becomes U+FFFD", "Drives=\xC3(\xE3\x81\n", 1, 30, u"\uFFFD(\uFFFD"},
        {"overlong and surrogate forms", "Drives=\xC0\xAF\xED\xA0\x80\n", 1, 30, u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"UTF-16 LE with mark", Utf16Le(u"# c\r\nEnabled=0\r\nIntervalSec=45\r\nDrives=ef\r\n"), 0, 45, u"ef"},
        {"UTF-16 LE odd last byte", Utf16Le(u"Drives=E") + "X", 1, 30, u"E\uFFFD"},
        {"mark-like start that is not one", "\xEF\xBB" "Drives=E\n", 1, 30, u""},
    };
    for (const Case& c : cases)
        for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{1 << 20}}) {
            const Read r = ReadInChunks(c.bytes, chunk);
            EXPECT_FALSE(r.refused) << c.name;
            EXPECT_EQ(r.values.Enabled, c.enabled) << c.name << ", chunk " << chunk;
            EXPECT_EQ(r.values.IntervalSec, c.interval) << c.name << ", chunk " << chunk;
            EXPECT_EQ(r.values.Drives, c.drives) << c.name << ", chunk " << chunk;
        }
}

TEST(SettingsFile, BigEndianMarkIsRefused) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{64}})
        EXPECT_TRUE(ReadInChunks("\xFE\xFF\0D\0r\0i\0v\0e\0s\0=\0E", chunk).refused);
}

TEST(SettingsFile, LongLinesArriveInPiecesOf511Units) {
    struct LongCase {
        const char* name;
        std::string bytes;
        std::u16string drives;
        std::int32_t interval;
    } cases[] = {
        {"drives cut after 504 units", "Drives=" + std::string(600, 'E') + "\r\n", std::u16string(504, u'E'), 30},
        {"the rest of a long line can hold a key",
         "Drives=" + std::string(504, 'E') + "IntervalSec=45\r\n", std::u16string(504, u'E'), 45},
        {"exactly 511 units then the line end", "Drives=" + std::string(504, 'F') + "\r\nIntervalSec=60\n",
         std::u16string(504, u'F'), 60},
        {"units count after decoding", "Drives=" + [] {
             std::string s;
             for (int i = 0; i < 510; ++i) s += "\xE3\x81\x82";
             return s;
         }() + "\n",
         std::u16string(504, u'\u3042'), 30},
    };
    for (const LongCase& c : cases)
        for (std::size_t chunk : {std::size_t{3}, std::size_t{4096}}) {
            const Read r = ReadInChunks(c.bytes, chunk);
            EXPECT_EQ(r.values.Drives, c.drives) << c.name;
            EXPECT_EQ(r.values.IntervalSec, c.interval) << c.name;
        }
}

TEST(SettingsFile, IntegerConversion) {
    struct IntCase {
        const char16_t* text;
        std::int32_t value;
    } cases[] = {
        {u"", 0}, {u"abc", 0}, {u"-", 0}, {u"+", 0}, {u"  \t42", 42}, {u"-17x", -17},
        {u"2147483647", 2147483647}, {u"2147483648", 2147483647}, {u"-2147483648", -2147483647 - 1},
        {u"-2147483649", -2147483647 - 1}, {u"000000000000000000000000000000012", 12}, {u"1 2", 1}, {u"+-1", 0},
    };
    for (const IntCase& c : cases)
        EXPECT_EQ(ParseSettingsInteger(c.text), c.value) << testing::PrintToString(std::u16string(c.text));
}

TEST(SettingsFile, SavedBytesAreTheMarkAndFourLines) {
    EXPECT_EQ(FormatSettingsFile(1, 30, u"EF"),
              "\xEF\xBB\xBF# Kestrun config\r\nEnabled=1\r\nIntervalSec=30\r\nDrives=EF\r\n");
    EXPECT_EQ(FormatSettingsFile(0, 3600, u""), "\xEF\xBB\xBF# Kestrun config\r\nEnabled=0\r\nIntervalSec=3600\r\nDrives=\r\n");
    EXPECT_EQ(FormatSettingsFile(1, 45, u"e \u3042\U0001F600\xD800"),
              "\xEF\xBB\xBF# Kestrun config\r\nEnabled=1\r\nIntervalSec=45\r\nDrives=e \xE3\x81\x82\xF0\x9F\x98\x80\xEF\xBF\xBD\r\n");
}

// What is saved reads back as the same values, whatever the drives string holds.
TEST(SettingsFile, SaveThenReadRoundTrips) {
    const std::u16string drives[] = {u"", u"EF", u"e e\t", u"\u5185\u8535", std::u16string(504, u'Z')};
    for (const auto& d : drives) {
        const Read r = ReadInChunks(FormatSettingsFile(0, 120, d), 5);
        EXPECT_EQ(r.values.Enabled, 0);
        EXPECT_EQ(r.values.IntervalSec, 120);
        EXPECT_EQ(r.values.Drives, d);
    }
}
