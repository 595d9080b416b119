#pragma once
// Settings bytes fed to the reader in chunks of `chunk` bytes, as a file is read.
#include <algorithm>
#include <optional>
#include <string_view>

#include "settings/settings_reader.h"

// What the bytes say; nullopt when their byte order is refused.
inline std::optional<SettingsValues> ReadSettings(std::string_view bytes, std::size_t chunk) {
    SettingsReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        FeedSettingsBytes(reader, bytes.substr(at, std::min(chunk, bytes.size() - at)));
    return FinishSettingsBytes(reader) ? std::optional(reader.Values) : std::nullopt;
}
