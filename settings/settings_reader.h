#pragma once
// The settings file's lenient reader, private to the settings code. It takes
// the file's bytes in chunks of any size and applies them line by line: the
// byte-order mark chooses the decoding, CR LF becomes LF, every line arrives
// in pieces of at most PieceUnits units, a NUL ends a line's text and its end
// is trimmed. Memory stays bounded whatever the file's size.
#include <cstddef>
#include <string>
#include <string_view>

#include "settings/settings.h"

constexpr std::size_t PieceUnits = 511;

struct SettingsReader {
    enum class ByteOrder { Undecided, Utf8, Utf16Le, Utf16Be } Order = ByteOrder::Undecided;
    std::string Pending;     // bytes not yet decoded: the file's first bytes, or a split sequence
    bool PendingCr = false;  // a CR that may be the start of CR LF
    std::u16string Piece;    // the line read so far, up to PieceUnits units
    SettingsValues Values;
};

void FeedSettingsBytes(SettingsReader& reader, std::string_view bytes);
void FinishSettingsBytes(SettingsReader& reader);
