#pragma once
// The settings file config.ini and the start-with-Windows registration.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

void LoadSettings();
void SaveSettings();

bool IsAutostartRegistered();
void SetAutostartRegistered(bool registered);
std::u16string QuotedProgramPath();

// What a settings file says, read leniently; starts at the defaults.
struct SettingsValues {
    std::int32_t Enabled = 1;
    std::int32_t IntervalSec = 30;
    std::u16string Drives;
};

// Turns the file's bytes, fed in chunks of any size, into lines and applies
// them: the encoding is chosen by the first bytes, CR LF becomes LF, and every
// line arrives in pieces of at most PieceUnits units. Memory stays bounded
// whatever the file's size.
constexpr std::size_t PieceUnits = 511;

struct SettingsReader {
    enum class Encoding { Undecided, Utf8, Utf16Le, Refused };
    Encoding encoding = Encoding::Undecided;
    std::string pending;  // bytes not yet decoded: the start of the file, or a split sequence
    bool pendingCr = false;
    std::u16string piece;
    SettingsValues values;
};

void FeedSettingsBytes(SettingsReader& reader, const char* bytes, std::size_t size);
void FinishSettingsBytes(SettingsReader& reader);

std::int32_t ParseSettingsInteger(std::u16string_view text);
void ApplySettingsLine(std::u16string_view piece, SettingsValues& values);
std::string EncodeUtf8(std::u16string_view text);
std::string FormatSettingsFile(std::int32_t enabled, std::int32_t intervalSec, std::u16string_view drives);
