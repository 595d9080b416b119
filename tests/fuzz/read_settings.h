#pragma once
// Settings bytes fed to the reader in chunks of `chunk` bytes, as a file is read.
#include <algorithm>
#include <string_view>

#include "settings/settings_reader.h"

inline SettingsValues ReadSettings(std::string_view bytes, std::size_t chunk) {
    SettingsReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        FeedSettingsBytes(reader, bytes.substr(at, std::min(chunk, bytes.size() - at)));
    FinishSettingsBytes(reader);
    return reader.Values;
}
