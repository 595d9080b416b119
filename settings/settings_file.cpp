#include <span>
#include <vector>

#include "drives/drives.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "state/state.h"

bool SettingsFileUnread = false;
std::uint32_t SettingsSaveFailures = 0;

namespace {

constexpr std::uint32_t ChunkSize = 64 * 1024;
constexpr int StartUpOpenAttempts = 10;
constexpr std::uint32_t OpenRetryMs = 50;
// An indexer or virus scanner may hold the new file for a while: about half a second in all.
constexpr std::uint32_t ReplacePausesMs[] = {10, 20, 40, 80, 160, 200};

enum class FileState { Read, Missing, Unreadable };

// What the program runs on from start-up: the file's values, or the first-run choices when it has
// none or could not read it. What the user changes while the file is unread is what they chose.
SettingsValues StartValues;

// A file that another program holds for a moment (a backup, a scanner) is no
// missing file: taking the defaults for it would let the start-up save
// overwrite the user's choices. So a sharing conflict is waited out briefly.
// Shared wholly: an editor that saves by putting a new file in its place must not fail meanwhile.
platform::Handle OpenSettingsFile(const std::u16string& path, int attempts, std::uint32_t& error) {
    for (int attempt = 1;; ++attempt) {
        const platform::Handle file = platform::CreateFileW(
            path, platform::GenericRead, platform::FileShareRead | platform::FileShareWrite | platform::FileShareDelete,
            platform::OpenExisting, platform::FileAttributeNormal);
        error = file == platform::InvalidHandleValue ? platform::GetLastError() : platform::ErrorSuccess;
        if (file != platform::InvalidHandleValue || attempt >= attempts ||
            (error != platform::ErrorSharingViolation && error != platform::ErrorLockViolation))
            return file;
        platform::Sleep(OpenRetryMs);
    }
}

// Reads the file in chunks through the lenient reader. Only "file not found"
// and "path not found" mean there is no file. Any other failure, at the open
// or part-way through, leaves a file that is there but could not be read whole.
FileState ReadSettingsFile(const std::u16string& path, int attempts, SettingsValues& values) {
    std::uint32_t error = 0;
    const platform::Handle file = OpenSettingsFile(path, attempts, error);
    if (file == platform::InvalidHandleValue)
        return error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound ? FileState::Missing
                                                                                            : FileState::Unreadable;
    SettingsReader reader;
    std::vector<char> chunk(ChunkSize);
    std::uint32_t got = 0;
    bool whole = true;
    while ((whole = platform::ReadFile(file, chunk.data(), ChunkSize, &got)) && got > 0)
        FeedSettingsBytes(reader, std::string_view(chunk.data(), got));
    platform::CloseHandle(file);
    if (!whole)
        return FileState::Unreadable;
    FinishSettingsBytes(reader);
    values = reader.Values;
    return FileState::Read;
}

void ApplySettings(const SettingsValues& values, bool chosen = true) {
    SetEnabled(values.Enabled);
    SetIntervalSec(values.IntervalSec);
    ReplaceTargetDrives(values.Drives, chosen);
}

// The file's values, with each setting the user changed since start-up on top: a drive ticked is
// added, one unticked goes wherever the file has it.
SettingsValues MergeSettings(SettingsValues file, const SettingsValues& started, const SettingsValues& now) {
    if (now.Enabled != started.Enabled)
        file.Enabled = now.Enabled;
    if (now.IntervalSec != started.IntervalSec)
        file.IntervalSec = now.IntervalSec;
    for (const char16_t letter : started.Drives)
        if (now.Drives.find(letter) == std::u16string::npos)
            std::erase(file.Drives, letter);
    for (const char16_t letter : now.Drives)
        if (started.Drives.find(letter) == std::u16string::npos && file.Drives.find(letter) == std::u16string::npos)
            file.Drives.push_back(letter);
    return file;
}

// The new file is written whole beside the old one and then put in its place
// in one step, so a crash or power cut leaves either the old file or the new
// one, never an empty or torn one. A failed save leaves the old file alone.
// Another program reading the file at that instant (an editor, a backup, a
// scanner) makes the replace fail: it is tried again after each of `pauses`.
bool WriteSettingsFile(std::span<const std::uint32_t> pauses) {
    const std::u16string drives = SnapshotTargetDrives();
    const std::string bytes = FormatSettingsFile(Settings.Enabled.load(), Settings.IntervalSec.load(), drives);
    const std::u16string& path = AppPaths.SettingsFilePath;
    const std::u16string temporary = path + u".new";
    // A temporary file left by a crash may be hidden, system or read-only, which would refuse the create.
    platform::SetFileAttributesW(temporary, platform::FileAttributeNormal);
    const platform::Handle file = platform::CreateFileW(temporary, platform::GenericWrite, 0, platform::CreateAlways,
                                                        platform::FileAttributeNormal);
    if (file == platform::InvalidHandleValue)
        return false;
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t written = 0;
    bool complete = platform::WriteFile(file, bytes.data(), size, &written) && written == size;
    complete = platform::FlushFileBuffers(file) && complete;
    platform::CloseHandle(file);
    const auto replace = [&] {
        return platform::MoveFileExW(temporary, path,
                                     platform::MovefileReplaceExisting | platform::MovefileWriteThrough);
    };
    bool replaced = complete && replace();
    for (std::size_t i = 0; complete && !replaced && i < pauses.size(); ++i) {
        platform::Sleep(pauses[i]);
        replaced = replace();
    }
    if (!replaced)
        platform::DeleteFileW(temporary);
    return replaced;
}

// Nothing replaces a file that is there but has not been read: the user's values would be lost.
// A save that fails stays pending until one succeeds.
void Save(std::span<const std::uint32_t> pauses) {
    if (!SettingsFileUnread)
        SettingsSaveFailures = WriteSettingsFile(pauses) ? 0 : SettingsSaveFailures + 1;
}

}  // namespace

// A file that is there but could not be read (held at logon by a sync client or a backup, a roaming
// profile still arriving) leaves the program on the first-run choices until it is read.
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

    StartValues = SettingsValues();
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, StartUpOpenAttempts, StartValues);
    if (state != FileState::Read)
        StartValues.Drives = DefaultTargetDrives();
    ApplySettings(StartValues, state != FileState::Unreadable);
    SettingsFileUnread = state == FileState::Unreadable;
}

void SaveSettings() { Save(ReplacePausesMs); }

// One try, without waiting: a file unread since start-up is read, the user's changes go on top and
// the result is saved; or else a pending save is written. True when the values in memory may have
// changed: the file was read, or it has gone and the first-run choices are now the user's own.
bool SettleSettings() {
    if (!SettingsFileUnread) {
        if (SettingsSaveFailures > 0)
            Save({});
        return false;
    }
    SettingsValues file;
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, 1, file);
    if (state == FileState::Unreadable)
        return false;
    SettingsFileUnread = false;
    const SettingsValues now = {Settings.Enabled.load(), Settings.IntervalSec.load(), SnapshotTargetDrives()};
    ApplySettings(state == FileState::Read ? MergeSettings(file, StartValues, now) : now);
    Save({});
    return true;
}
