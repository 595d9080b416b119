#include <vector>

#include "app/state.h"
#include "drives/drives.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

constexpr std::uint32_t ChunkSize = 64 * 1024;
constexpr int OpenAttempts = 10;
constexpr std::uint32_t OpenRetryMs = 50;
constexpr int ReplaceAttempts = 5;
constexpr std::uint32_t ReplaceRetryMs = 20;

// A file that another program holds for a moment (a backup, a scanner) is no
// missing file: taking the defaults for it would let the start-up save
// overwrite the user's choices. So a sharing conflict is waited out briefly.
platform::Handle OpenSettingsFile(const std::u16string& path) {
    for (int attempt = 1;; ++attempt) {
        const platform::Handle file = platform::CreateFileW(path, platform::GenericRead,
                                                            platform::FileShareRead | platform::FileShareWrite,
                                                            platform::OpenExisting, platform::FileAttributeNormal);
        if (file != platform::InvalidHandleValue || attempt == OpenAttempts)
            return file;
        const std::uint32_t error = platform::GetLastError();
        if (error != platform::ErrorSharingViolation && error != platform::ErrorLockViolation)
            return file;
        platform::Sleep(OpenRetryMs);
    }
}

// Reads the file in chunks through the lenient reader. False when it cannot
// be opened or is refused for its byte order, which both mean: no file.
bool ReadSettingsFile(const std::u16string& path, SettingsValues& values) {
    const platform::Handle file = OpenSettingsFile(path);
    if (file == platform::InvalidHandleValue)
        return false;
    SettingsReader reader;
    std::vector<char> chunk(ChunkSize);
    std::uint32_t got = 0;
    while (reader.encoding != SettingsReader::Encoding::Refused &&
           platform::ReadFile(file, chunk.data(), ChunkSize, &got) && got > 0)
        FeedSettingsBytes(reader, chunk.data(), got);
    platform::CloseHandle(file);
    FinishSettingsBytes(reader);
    if (reader.encoding == SettingsReader::Encoding::Refused)
        return false;
    values = reader.values;
    return true;
}

}  // namespace

void LoadSettings() {
    std::u16string folder;
    std::u16string known;
    void* taskMemory = nullptr;
    if (platform::SHGetKnownFolderPath(platform::KnownFolder::RoamingAppData, 0, &known, &taskMemory) >= 0) {
        folder = known + u"\\Kestrun";
        platform::CreateDirectoryW(folder);  // usually there already
    }
    if (taskMemory != nullptr)
        platform::CoTaskMemFree(taskMemory);
    AppPaths.SettingsFilePath = folder + u"\\config.ini";

    SetEnabled(1);
    SetIntervalSec(30);
    SettingsValues values;
    if (ReadSettingsFile(AppPaths.SettingsFilePath, values)) {
        SetEnabled(values.Enabled);
        SetIntervalSec(values.IntervalSec);
        ReplaceTargetDrives(values.Drives);
    } else {
        ReplaceTargetDrives(DefaultTargetDrives());
    }
}

// The new file is written whole beside the old one and then put in its place
// in one step, so a crash or power cut leaves either the old file or the new
// one, never an empty or torn one. A failed save leaves the old file alone.
void SaveSettings() {
    const std::u16string drives = SnapshotTargetDrives();
    const std::string bytes = FormatSettingsFile(Settings.Enabled.load(), Settings.IntervalSec.load(), drives);
    const std::u16string& path = AppPaths.SettingsFilePath;
    const std::u16string temporary = path + u".new";
    const platform::Handle file = platform::CreateFileW(temporary, platform::GenericWrite, 0, platform::CreateAlways,
                                                        platform::FileAttributeNormal);
    if (file == platform::InvalidHandleValue)
        return;
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t written = 0;
    bool complete = platform::WriteFile(file, bytes.data(), size, &written) && written == size;
    complete = platform::FlushFileBuffers(file) && complete;
    platform::CloseHandle(file);
    // Another program reading the file at this instant (an editor, a backup)
    // makes the replace fail; a few short retries keep the change from being lost.
    bool replaced = false;
    for (int attempt = 0; complete && !replaced && attempt < ReplaceAttempts; ++attempt) {
        if (attempt > 0)
            platform::Sleep(ReplaceRetryMs);
        replaced =
            platform::MoveFileExW(temporary, path, platform::MovefileReplaceExisting | platform::MovefileWriteThrough);
    }
    if (!replaced)
        platform::DeleteFileW(temporary);
}
