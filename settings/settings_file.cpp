#include <vector>

#include "drives/drives.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "state/state.h"

bool SettingsFileUnread = false;

namespace {

constexpr std::uint32_t ChunkSize = 64 * 1024;
constexpr int OpenAttempts = 10;
constexpr std::uint32_t OpenRetryMs = 50;
// An indexer or virus scanner may hold the new file for a while: about half a second in all.
constexpr std::uint32_t ReplacePausesMs[] = {10, 20, 40, 80, 160, 200};

enum class FileState { Read, Missing, Unreadable };

// A file that another program holds for a moment (a backup, a scanner) is no
// missing file: taking the defaults for it would let the start-up save
// overwrite the user's choices. So a sharing conflict is waited out briefly.
platform::Handle OpenSettingsFile(const std::u16string& path, std::uint32_t& error) {
    for (int attempt = 1;; ++attempt) {
        const platform::Handle file =
            platform::CreateFileW(path, platform::GenericRead, platform::FileShareRead | platform::FileShareWrite,
                                  platform::OpenExisting, platform::FileAttributeNormal);
        error = file == platform::InvalidHandleValue ? platform::GetLastError() : platform::ErrorSuccess;
        if (file != platform::InvalidHandleValue || attempt == OpenAttempts ||
            (error != platform::ErrorSharingViolation && error != platform::ErrorLockViolation))
            return file;
        platform::Sleep(OpenRetryMs);
    }
}

// Reads the file in chunks through the lenient reader. Only "file not found"
// and "path not found" mean there is no file; a file refused for its byte
// order counts as missing too. Any other failure, at the open or part-way
// through, leaves a file that is there but could not be read whole.
FileState ReadSettingsFile(const std::u16string& path, SettingsValues& values) {
    std::uint32_t error = 0;
    const platform::Handle file = OpenSettingsFile(path, error);
    if (file == platform::InvalidHandleValue)
        return error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound ? FileState::Missing
                                                                                            : FileState::Unreadable;
    SettingsReader reader;
    std::vector<char> chunk(ChunkSize);
    std::uint32_t got = 0;
    bool whole = true;
    while (reader.Order != SettingsReader::ByteOrder::Refused &&
           (whole = platform::ReadFile(file, chunk.data(), ChunkSize, &got)) && got > 0)
        FeedSettingsBytes(reader, std::string_view(chunk.data(), got));
    platform::CloseHandle(file);
    if (!whole)
        return FileState::Unreadable;
    if (!FinishSettingsBytes(reader))
        return FileState::Missing;
    values = reader.Values;
    return FileState::Read;
}

void ApplySettings(const SettingsValues& values) {
    SetEnabled(values.Enabled);
    SetIntervalSec(values.IntervalSec);
    ReplaceTargetDrives(values.Drives);
}

}  // namespace

// A file that is there but could not be read (held at logon by a sync client or a backup, a roaming
// profile still arriving) keeps the program on the defaults, and no save may replace it until it
// has been read: the user's values would be lost.
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
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, values);
    if (state == FileState::Read)
        ApplySettings(values);
    else
        ReplaceTargetDrives(DefaultTargetDrives());
    SettingsFileUnread = state == FileState::Unreadable;
}

// Tried before each of the user's commands, so that it applies on top of the user's values.
// A file gone since is no such case any more: the values in memory are then saved as they are.
bool RereadSettings() {
    if (!SettingsFileUnread)
        return false;
    SettingsValues values;
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, values);
    SettingsFileUnread = state == FileState::Unreadable;
    if (state != FileState::Read)
        return false;
    ApplySettings(values);
    return true;
}

// The new file is written whole beside the old one and then put in its place
// in one step, so a crash or power cut leaves either the old file or the new
// one, never an empty or torn one. A failed save leaves the old file alone.
void SaveSettings() {
    if (SettingsFileUnread)
        return;
    const std::u16string drives = SnapshotTargetDrives();
    const std::string bytes = FormatSettingsFile(Settings.Enabled.load(), Settings.IntervalSec.load(), drives);
    const std::u16string& path = AppPaths.SettingsFilePath;
    const std::u16string temporary = path + u".new";
    // A temporary file left by a crash may be hidden, system or read-only, which would refuse the create.
    platform::SetFileAttributesW(temporary, platform::FileAttributeNormal);
    const platform::Handle file = platform::CreateFileW(temporary, platform::GenericWrite, 0, platform::CreateAlways,
                                                        platform::FileAttributeNormal);
    if (file == platform::InvalidHandleValue)
        return;
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t written = 0;
    bool complete = platform::WriteFile(file, bytes.data(), size, &written) && written == size;
    complete = platform::FlushFileBuffers(file) && complete;
    platform::CloseHandle(file);
    // Another program reading the file at this instant (an editor, a backup,
    // a scanner) makes the replace fail; retries with growing pauses keep the change.
    const auto replace = [&] {
        return platform::MoveFileExW(temporary, path,
                                     platform::MovefileReplaceExisting | platform::MovefileWriteThrough);
    };
    bool replaced = complete && replace();
    for (std::size_t i = 0; complete && !replaced && i < std::size(ReplacePausesMs); ++i) {
        platform::Sleep(ReplacePausesMs[i]);
        replaced = replace();
    }
    if (!replaced)
        platform::DeleteFileW(temporary);
}
