// The settings file's text: our own codec rather than the C runtime's text
// modes, which differ between runtimes and mangle non-ASCII text under some.
// Reading runs the bytes through one step per rule, in this order:
// ChooseByteOrder, DecodeUtf8 or DecodeUtf16, JoinCrLf, CutIntoPieces,
// CutAtNul, TrimLineEnd, ApplyLine.
#include <algorithm>
#include <limits>

#include "settings/settings_reader.h"

namespace {

constexpr char16_t Replacement = 0xFFFD;

// A NUL ends the line's text.
std::u16string_view CutAtNul(std::u16string_view piece) { return piece.substr(0, piece.find(u'\0')); }

// LF, CR and spaces at the end of a line do not count.
std::u16string_view TrimLineEnd(std::u16string_view line) {
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r' || line.back() == u' '))
        line.remove_suffix(1);
    return line;
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Leading white space, an optional sign, decimal digits up to the first
// other character; no digits give 0, and overflow saturates. Only ASCII digits count.
std::int32_t ParseInteger(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    std::int64_t magnitude = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i] - u'0'));
    if (negative)
        return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, limit - 1));
}

// Keys match exactly; the last valid line of each key wins.
void ApplyLine(std::u16string_view line, SettingsValues& values) {
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos)
        return;
    const std::u16string_view key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == u"Enabled") {
        values.Enabled = ParseInteger(value) != 0 ? 1 : 0;
    } else if (key == u"IntervalSec") {
        const std::int32_t seconds = ParseInteger(value);
        if (seconds >= 5 && seconds <= 3600)
            values.IntervalSec = seconds;
    } else if (key == u"Drives") {
        values.Drives = value;
    }
}

void DeliverPiece(SettingsReader& reader) {
    ApplyLine(TrimLineEnd(CutAtNul(reader.Piece)), reader.Values);
    reader.Piece.clear();
}

// A line reaches the rules in pieces of at most PieceUnits units, each read as a line of its own.
void CutIntoPieces(SettingsReader& reader, char16_t unit) {
    reader.Piece.push_back(unit);
    if (unit == u'\n' || reader.Piece.size() == PieceUnits)
        DeliverPiece(reader);
}

// CR LF reaches the line rules as LF; a CR on its own stays.
void JoinCrLf(SettingsReader& reader, char16_t unit) {
    if (reader.PendingCr) {
        reader.PendingCr = false;
        if (unit == u'\n') {
            CutIntoPieces(reader, u'\n');
            return;
        }
        CutIntoPieces(reader, u'\r');
    }
    if (unit == u'\r')
        reader.PendingCr = true;
    else
        CutIntoPieces(reader, unit);
}

void PushCodePoint(SettingsReader& reader, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        JoinCrLf(reader, static_cast<char16_t>(0xD800 + (cp >> 10)));
        JoinCrLf(reader, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        JoinCrLf(reader, static_cast<char16_t>(cp));
    }
}

// Length of the UTF-8 sequence a lead byte opens, and the range its second byte must lie in
// (which rules out overlong forms, surrogates and code points beyond U+10FFFF).
struct Lead {
    int length;
    unsigned char low, high;
};

// A table reads best one rule a line.
// clang-format off
Lead ClassifyLead(unsigned char b) {
    if (b < 0x80) return {1, 0, 0};
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}
// clang-format on

// Decodes as much of `data` as forms whole sequences and returns how many bytes
// it used; each invalid stretch (its maximal valid prefix) becomes one U+FFFD.
std::size_t DecodeUtf8(SettingsReader& reader, const unsigned char* data, std::size_t size, bool atEnd) {
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = data[i];
        const Lead lead = ClassifyLead(b);
        if (lead.length == 1) {
            JoinCrLf(reader, b);
            ++i;
            continue;
        }
        if (lead.length == 0) {
            JoinCrLf(reader, Replacement);
            ++i;
            continue;
        }
        char32_t cp = b & (0xFF >> (lead.length + 1));
        int used = 1;
        bool broken = false;
        for (; used < lead.length; ++used) {
            if (i + used >= size) {
                if (!atEnd)
                    return i;  // wait for the rest of the sequence
                broken = true;
                break;
            }
            const unsigned char c = data[i + used];
            const unsigned char low = used == 1 ? lead.low : 0x80, high = used == 1 ? lead.high : 0xBF;
            if (c < low || c > high) {
                broken = true;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (broken) {
            JoinCrLf(reader, Replacement);
            i += used;
            continue;
        }
        PushCodePoint(reader, cp);
        i += lead.length;
    }
    return i;
}

// Either byte order: Notepad saves both.
std::size_t DecodeUtf16(SettingsReader& reader, const unsigned char* data, std::size_t size, bool atEnd) {
    const int high = reader.Order == SettingsReader::ByteOrder::Utf16Be ? 0 : 1;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2)
        JoinCrLf(reader, static_cast<char16_t>((data[i + high] << 8) | data[i + 1 - high]));
    if (atEnd && i < size) {
        JoinCrLf(reader, Replacement);  // a lone last byte
        ++i;
    }
    return i;
}

void Decode(SettingsReader& reader, bool atEnd) {
    const auto* data = reinterpret_cast<const unsigned char*>(reader.Pending.data());
    const std::size_t size = reader.Pending.size();
    const std::size_t used = reader.Order == SettingsReader::ByteOrder::Utf8 ? DecodeUtf8(reader, data, size, atEnd)
                                                                             : DecodeUtf16(reader, data, size, atEnd);
    reader.Pending.erase(0, used);
}

bool StartsWith(const std::string& bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

// True while the bytes so far may still grow into a byte-order mark.
bool CouldStartMark(std::string_view bytes) {
    for (std::string_view mark :
         {std::string_view("\xEF\xBB\xBF"), std::string_view("\xFF\xFE"), std::string_view("\xFE\xFF")})
        if (mark.starts_with(bytes))
            return true;
    return false;
}

// The byte-order mark decides; anything else is UTF-8 from the first byte.
void ChooseByteOrder(SettingsReader& reader, bool atEnd) {
    std::string& p = reader.Pending;
    if (StartsWith(p, "\xEF\xBB\xBF")) {
        reader.Order = SettingsReader::ByteOrder::Utf8;
        p.erase(0, 3);
    } else if (StartsWith(p, "\xFF\xFE")) {
        reader.Order = SettingsReader::ByteOrder::Utf16Le;
        p.erase(0, 2);
    } else if (StartsWith(p, "\xFE\xFF")) {
        reader.Order = SettingsReader::ByteOrder::Utf16Be;
        p.erase(0, 2);
    } else if (atEnd || !CouldStartMark(p)) {
        reader.Order = SettingsReader::ByteOrder::Utf8;
    }
}

}  // namespace

void FeedSettingsBytes(SettingsReader& reader, std::string_view bytes) {
    reader.Pending.append(bytes);
    if (reader.Order == SettingsReader::ByteOrder::Undecided)
        ChooseByteOrder(reader, false);
    if (reader.Order != SettingsReader::ByteOrder::Undecided)
        Decode(reader, false);
}

void FinishSettingsBytes(SettingsReader& reader) {
    if (reader.Order == SettingsReader::ByteOrder::Undecided)
        ChooseByteOrder(reader, true);
    Decode(reader, true);
    if (reader.PendingCr) {
        reader.PendingCr = false;
        CutIntoPieces(reader, u'\r');
    }
    if (!reader.Piece.empty())
        DeliverPiece(reader);
}

namespace {

// A lone surrogate (possible in a file read as UTF-16) is written as U+FFFD.
std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = Replacement;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace

std::string FormatSettingsFile(std::int32_t enabled, std::int32_t intervalSec, std::u16string_view drives) {
    return "\xEF\xBB\xBF# Kestrun config\r\nEnabled=" + std::to_string(enabled) +
           "\r\nIntervalSec=" + std::to_string(intervalSec) + "\r\nDrives=" + EncodeUtf8(drives) + "\r\n";
}
