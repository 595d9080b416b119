#include <algorithm>
#include <span>
#include <vector>

#include "drives/drives.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "state/state.h"

bool SettingsFileUnread = false;
std::uint32_t SettingsSaveFailures = 0;
CommandedSettings UserCommands;

namespace {

constexpr std::uint32_t ChunkSize = 64 * 1024;
constexpr int StartUpOpenAttempts = 10;
constexpr std::uint32_t OpenRetryMs = 50;
// An indexer or virus scanner may hold the new file for a while: about half a second in all.
constexpr std::uint32_t ReplacePausesMs[] = {10, 20, 40, 80, 160, 200};
// The timer's save runs on the window's thread: a scanner's usual glance at a new file (a tenth of
// a second or so) is waited out, 0.15 s at most, and anything longer is left to the next tick.
constexpr std::uint32_t SettlePausesMs[] = {10, 20, 40, 80};
// A few seconds: a file held at logon is read soon after it is let go, at the cost of one open a try.
constexpr std::uint32_t SettleEveryMs = 5000;

// Held: another program has the file open for a moment (a backup, a sync client, a scanner).
enum class FileState { Read, Missing, Held, Unreadable };

// Tries of a file unread since start-up that failed in a way that does not pass by itself, and
// tries in a row that found no file at all.
std::uint32_t ReadFailures = 0;
std::uint32_t MissingInARow = 0;

bool IsHeld(std::uint32_t error) {
    return error == platform::ErrorSharingViolation || error == platform::ErrorLockViolation;
}

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
        if (file != platform::InvalidHandleValue || attempt >= attempts || !IsHeld(error))
            return file;
        platform::Sleep(OpenRetryMs);
    }
}

// Reads the file in chunks through the lenient reader. Only "file not found"
// means there is no file. Any other failure, at the open or part-way through,
// leaves a file that is there but could not be read whole. That includes "path
// not found": the folder was just made, so its absence says the place cannot
// be reached (an AppData redirected to a server that is down), and taking the
// file for missing would let the first-run choices overwrite it once it is back.
FileState ReadSettingsFile(const std::u16string& path, int attempts, SettingsValues& values) {
    std::uint32_t error = 0;
    const platform::Handle file = OpenSettingsFile(path, attempts, error);
    if (error == platform::ErrorFileNotFound)
        return FileState::Missing;
    if (file == platform::InvalidHandleValue)
        return IsHeld(error) ? FileState::Held : FileState::Unreadable;
    SettingsReader reader;
    std::vector<char> chunk(ChunkSize);
    std::uint32_t got = 0;
    bool whole = true;
    while ((whole = platform::ReadFile(file, chunk.data(), ChunkSize, &got)) && got > 0)
        FeedSettingsBytes(reader, std::string_view(chunk.data(), got));
    error = whole ? platform::ErrorSuccess : platform::GetLastError();
    platform::CloseHandle(file);
    if (!whole)
        return IsHeld(error) ? FileState::Held : FileState::Unreadable;
    FinishSettingsBytes(reader);
    values = reader.Values;
    return FileState::Read;
}

void ApplySettings(const SettingsValues& values, bool chosen = true) {
    SetEnabled(values.Enabled);
    SetIntervalSec(values.IntervalSec);
    ReplaceTargetDrives(values.Drives, chosen);
}

// The file's values, with the user's last word on top for each setting they commanded while it was
// unread: a drive left ticked is added, one left unticked goes wherever the file has it. Only where
// each setting ended matters, so the order of the commands does not.
SettingsValues MergeSettings(SettingsValues file, const SettingsValues& now) {
    if (UserCommands.Enabled)
        file.Enabled = now.Enabled;
    if (UserCommands.IntervalSec)
        file.IntervalSec = now.IntervalSec;
    for (const char16_t letter : UserCommands.Drives)
        if (now.Drives.find(letter) == std::u16string::npos)
            std::erase(file.Drives, letter);
    for (const char16_t letter : now.Drives)
        if (UserCommands.Drives.find(letter) != std::u16string::npos &&
            file.Drives.find(letter) == std::u16string::npos)
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

    SettingsValues values;
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, StartUpOpenAttempts, values);
    if (state != FileState::Read)
        values.Drives = DefaultTargetDrives();
    SettingsFileUnread = state == FileState::Held || state == FileState::Unreadable;
    ApplySettings(values, !SettingsFileUnread);
    ReadFailures = state == FileState::Unreadable ? 1 : 0;
    MissingInARow = 0;
    UserCommands = {};
}

void SaveSettings() { Save(ReplacePausesMs); }

// One try, with no more than the timer's short pauses: a file unread since start-up is read, the
// user's last word goes on top and the result is saved; or else a pending save is written. True when
// the values in memory may have changed: the file was read, or it is gone and the first-run choices
// are now the user's own.
bool SettleSettings() {
    if (!SettingsFileUnread) {
        if (SettingsSaveFailures > 0)
            Save(SettlePausesMs);
        return false;
    }
    SettingsValues file;
    const FileState state = ReadSettingsFile(AppPaths.SettingsFilePath, 1, file);
    ReadFailures = state == FileState::Unreadable ? ReadFailures + 1 : 0;
    // A program that saves by deleting the file and renaming another into its place leaves no file
    // for an instant (or one pending deletion, which Windows reports as access denied and is tried
    // again later): taking that for a missing file would write the first-run choices over the user's.
    MissingInARow = state == FileState::Missing ? MissingInARow + 1 : 0;
    if (state == FileState::Held || state == FileState::Unreadable || MissingInARow == 1)
        return false;
    SettingsFileUnread = false;
    const SettingsValues now = {Settings.Enabled.load(), Settings.IntervalSec.load(), SnapshotTargetDrives()};
    ApplySettings(state == FileState::Read ? MergeSettings(file, now) : now);
    Save(SettlePausesMs);
    return true;
}

// Another program holding the file lets go soon, so it is tried every few seconds. A save that keeps
// failing (a read-only file, a full disk), or a read that does (access denied, a folder of that name,
// a server out of reach, whose open may hold the window for seconds), is tried ever less often:
// 5, 10, 20 s and so on, up to every 320 s.
std::uint32_t SettleDelayMs() {
    if (!SettingsFileUnread && SettingsSaveFailures == 0)
        return 0;
    const std::uint32_t failures = SettingsFileUnread ? ReadFailures : SettingsSaveFailures;
    return SettleEveryMs << (std::clamp(failures, 1u, 7u) - 1);
}
