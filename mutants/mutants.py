#!/usr/bin/env python3
"""Planted faults: does the test suite catch them?

Each fault is a small edit of one place in the program, the kind of slip a
reviewer could miss, with what a user would notice. They are applied one at a
time to a scratch copy of the tree (uncommitted changes included): first the
test layers that should catch it, then, if those pass, every layer of the test
command (all but the style check, which would catch any edit). A fault that
no longer applies, or does not build, is reported as such and counts against
the score.

    python3 mutants/mutants.py            # the whole table
    python3 mutants/mutants.py 3 17       # faults 3 and 17 only
    python3 mutants/mutants.py --list     # the table, nothing run

Not part of the test command; docs/TESTING.md gives how long the whole table takes.
"""
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCRATCH = Path("/tmp/kestrun-mutants")
EVERY_LAYER = "host tsan fuzz e2e"

# (file, text, replacement, what a user would notice, the layers that should catch it)
FAULTS = [
    # app/
    ("app/startup.cpp", " || error == platform::ErrorAccessDenied", "",
     "a second copy runs beside one started as administrator", "host"),
    ("app/startup.cpp", "platform::SetDefaultDllDirectories(platform::LoadLibrarySearchSystem32);", "",
     "a DLL planted in Downloads runs inside Kestrun", "host"),
    ("keepawake/worker.cpp", "LongestWorkerWaitMs = 3000;", "LongestWorkerWaitMs = platform::Infinite;",
     "exit with a drive that does not answer leaves a hung process", "e2e"),
    ("state/state.cpp", "        drives.erase(at, 1);", "        drives.erase(at);",
     "dropping E drops every drive chosen after it", "host"),
    ("state/state.cpp", "    std::u16string copy = Settings.TargetDrives;\n    platform::LeaveCriticalSection(&SettingsLock);",
     "    platform::LeaveCriticalSection(&SettingsLock);\n    std::u16string copy = Settings.TargetDrives;",
     "a crash or a garbled drive list when a pass meets a menu choice", "tsan"),
    ("state/state.cpp", "    if (WakeEvent != nullptr)\n        platform::SetEvent(WakeEvent);", "",
     "a drive chosen in the menu is read only after the interval", "host"),
    ("state/state.cpp", "    Settings.DroppedDrives = dropped;\n    platform::LeaveCriticalSection(&SettingsLock);",
     "    platform::LeaveCriticalSection(&SettingsLock);\n    Settings.DroppedDrives = dropped;",
     "a crash when a drive is dropped while the worker cleans up another", "tsan"),
    ("app/main.cpp", "u\"TaskbarCreated\"", "u\"TaskbarCreate\"",
     "after Explorer restarts, the icon is gone for good and Kestrun can only be killed", "e2e"),
    ("keepawake/worker.cpp", "    platform::SetEvent(StopEvent);\n", "",
     "exit waits out three seconds and skips the last clean-up of dropped drives", "e2e"),
    ("CMakeLists.txt", "-Wl,--tsaware ", "",
     "on a terminal server, the Windows drive is taken from a private per-user folder", "e2e"),
    # settings/
    ("settings/settings_text.cpp", "if (seconds >= 5 && seconds <= 3600)", "if (seconds > 5 && seconds <= 3600)",
     "an interval of 5 s set in the file is ignored", "host"),
    ("settings/settings_text.cpp", "        reader.Order = SettingsReader::ByteOrder::Utf16Le;\n        p.erase(0, 2);",
     "        reader.Order = SettingsReader::ByteOrder::Utf16Le;\n        p.erase(0, 1);",
     "a settings file saved by Notepad as Unicode loses every setting", "host"),
    ("settings/settings_text.cpp", "line.back() == u'\\r' || line.back() == u' '", "line.back() == u'\\r'",
     "a trailing space in the file makes a phantom drive", "host"),
    ("settings/settings_text.cpp", "out.push_back(static_cast<char>(0xE0 | (cp >> 12)));",
     "out.push_back(static_cast<char>(0xE0 | (cp >> 11)));", "a drive letter outside ASCII is saved garbled", "host"),
    ("settings/settings_text.cpp", "return c == u' ' || (c >= u'\\t'", "return (c >= u'\\t'",
     "IntervalSec= 60 with a space is ignored", "host"),
    ("settings/settings_file.cpp", "platform::MovefileReplaceExisting | platform::MovefileWriteThrough",
     "platform::MovefileWriteThrough", "no change is ever saved once the file exists", "e2e"),
    ("settings/settings_file.cpp", "    if (!replaced)\n        platform::DeleteFileW(temporary);", "",
     "a failed save leaves config.ini.new behind", "host"),
    ("settings/autostart.cpp", "    return registered && !IsStartupDisabled(ReadApprovedValue());",
     "    return registered;", "the menu says Kestrun starts at logon when Task Manager switched it off", "e2e"),
    ("settings/autostart.cpp", "RegOpenKeyExW(platform::HkeyCurrentUser, RunKey, 0, platform::KeySetValue, &key)",
     "RegOpenKeyExW(platform::HkeyCurrentUser, RunKey, 0, platform::KeyQueryValue, &key)",
     "start with Windows can never be switched on", "e2e"),
    ("settings/settings_file.cpp", "platform::MovefileReplaceExisting | platform::MovefileWriteThrough);",
     "platform::MovefileReplaceExisting);", "a power cut just after a change brings the old settings back", "host"),
    ("settings/settings_file.cpp",
     "platform::FileShareRead | platform::FileShareWrite | platform::FileShareDelete,",
     "platform::FileShareRead | platform::FileShareDelete,",
     "with config.ini open in an editor, Kestrun starts on the defaults", "host"),
    # drives/
    ("drives/drives.cpp", "busType == 4 || busType == 7 ||", "busType == 4 || busType == 8 ||",
     "on first start the USB disks are not chosen", "host"),
    ("drives/drives.cpp", "platform::CreateFileW(device, 0,", "platform::CreateFileW(device, platform::GenericRead,",
     "without administrator rights every drive is labelled 内蔵", "host"),
    ("drives/drives.cpp", "constexpr std::size_t BusTypeOffset = 28;", "constexpr std::size_t BusTypeOffset = 24;",
     "every drive in the menu has the wrong bus label", "host"),
    ("drives/drives.cpp", "    return !IsWindowsDrive(letter, systemDrive) &&\n           (driveType == platform::DriveUnknown || ",
     "    return !IsWindowsDrive(letter, systemDrive) &&\n           (",
     "a drive whose kind Windows cannot tell is never kept awake", "host"),
    ("drives/drives.cpp", "(systemDrive[0] | 0x20) == (letter | 0x20)", "systemDrive[0] == letter",
     "the Windows drive is offered when Windows spells its folder in lower case", "host"),
    ("drives/drives.cpp", "driveType == platform::DriveRemovable ||\n            driveType == platform::DriveFixed",
     "driveType != platform::DriveNoRootDir", "a network share or CD-ROM letter gets a marker and a read", "host"),
    ("drives/drives.cpp", "platform::CreateFileW(device, 0, platform::FileShareRead | platform::FileShareWrite,",
     "platform::CreateFileW(device, 0, platform::FileShareRead,",
     "every fixed drive is labelled 内蔵 and none is chosen on first run", "host"),
    # keepawake/
    ("keepawake/worker.cpp", "platform::OpenExisting, platform::FileFlagNoBuffering);",
     "platform::OpenExisting, 0);", "reads come from the cache: the drives sleep while Kestrun says ON", "host"),
    ("keepawake/worker.cpp", "{0xFFFFFFFFu, 0xFFFFFFFFu}", "{0xFFFFFFFFu, 0}",
     "every read writes the last-access time back to the disk", "host"),
    ("keepawake/worker.cpp", "        return OpenMarkerUnbuffered(path, platform::GenericRead);", "        return file;",
     "a write-protected card is never kept awake", "host"),
    ("keepawake/worker.cpp", "    RemoveDroppedMarkers();\n    if (readBuffer", "    if (readBuffer",
     "a drive dropped just before exit keeps its hidden file", "host"),
    ("keepawake/worker.cpp", "Settings.IntervalSec.load()) * 1000u", "Settings.IntervalSec.load()) * 100u",
     "the drives are read ten times as often as chosen", "host"),
    ("keepawake/worker.cpp", "        RemoveDroppedMarkers();\n        if (Settings", "        if (Settings",
     "a dropped drive keeps its hidden file until exit", "host"),
    ("keepawake/marker.cpp", "const std::uint16_t format = platform::CompressionFormatNone;",
     "const std::uint16_t format = 1;", "the marker is compressed: its read never reaches the disk", "host"),
    ("keepawake/marker.cpp", "(platform::FileAttributeCompressed | platform::FileAttributeSparseFile)",
     "platform::FileAttributeCompressed", "a sparse marker is answered without the disk", "host"),
    ("keepawake/marker.cpp", "platform::CreateAlways, Ours);", "platform::CreateAlways, platform::FileAttributeHidden);",
     "the marker shows up in Explorer with protected files hidden", "host"),
    ("keepawake/marker.cpp", "path, platform::GenericRead | platform::GenericWrite,", "path, platform::GenericWrite,",
     "compression cannot be switched off: the read never reaches a compressed disk", "host"),
    ("keepawake/marker.cpp", "    if (written == MarkerSize)\n        return platform::ErrorSuccess;",
     "    if (written > 0)\n        return platform::ErrorSuccess;",
     "a marker cut short on a full drive stays short for ever", "host"),
    ("keepawake/marker.cpp", "(attributes & Ours) == Ours && size != MarkerSize", "(attributes & Ours) == Ours && size > MarkerSize",
     "a marker of ours left empty by a pulled stick is trusted: the drive sleeps while Kestrun says ON", "host"),
    ("keepawake/marker.cpp", "    if (error == platform::ErrorAccessDenied && action == MarkerAction::Make && rootAbsent) {",
     "    if (false) {", "an old system disk in a USB case is never kept awake", "host"),
    ("keepawake/marker.cpp", "        const std::uint32_t kept = found.Attributes & (Ours | platform::FileAttributeArchive);\n"
     "        platform::SetFileAttributesW(path, kept != 0 ? kept : platform::FileAttributeNormal);",
     "        platform::SetFileAttributesW(path, platform::FileAttributeNormal);",
     "the marker is cleared of every attribute before its delete: a scanner's hold leaves it in sight", "host"),
    ("keepawake/marker.cpp", "folderStays = !platform::RemoveDirectoryW(folder) &&", "folderStays = false &&",
     "dropping an old system disk leaves an empty .kestrun folder behind", "host"),
    ("keepawake/marker.cpp", "(hollow || cutShort) && !remadeBefore ?", "(hollow || cutShort) && (!remadeBefore || found) ?",
     "on a file system that keeps new files compressed, every pass writes the marker anew", "host"),
    ("keepawake/worker.cpp", " || RemoveMarker(letter))", " || (RemoveMarker(letter) || true))",
     "a marker a scanner held at the drop is never deleted", "host"),
    # tray/
    ("tray/window_proc.cpp", "command < CmdIntervalFirst + IntervalChoices.size()",
     "command <= CmdIntervalFirst + IntervalChoices.size()", "a stray command sets a garbage interval", "host"),
    ("tray/window_proc.cpp", "command < CmdDriveFirst + 26", "command < CmdDriveFirst + 25",
     "drive Z: cannot be chosen", "host"),
    ("tray/window_proc.cpp", "    if (shown)\n        UpdateTrayTip();", "    if (shown && false)\n        UpdateTrayTip();",
     "the tooltip still says ON after switching off", "e2e"),
    ("tray/window_proc.cpp", "        RemoveTrayIcon();\n", "", "a dead icon stays in the tray after exit", "host"),
    ("tray/window_proc.cpp", " || lParam == platform::WmContextMenu", "",
     "the menu cannot be opened from the keyboard", "host"),
    ("tray/window_proc.cpp", "        UserCommands.IntervalSec = true;\n        Commit(true);",
     "        UserCommands.IntervalSec = true;",
     "the chosen interval is forgotten at the next start", "host"),
    ("tray/icon.cpp", "    TrayIcon.CallbackMessage = TrayCallbackMessage;\n", "",
     "clicks on the icon do nothing", "e2e"),
    ("tray/window_proc.cpp", "(message == TaskbarCreatedMessage && TaskbarCreatedMessage != 0) ||", "",
     "the icon is gone for good once Explorer restarts", "e2e"),
    ("tray/menu.cpp", "    platform::GetCursorPos(&cursor);\n", "",
     "the menu opens in the corner of the screen, not at the icon", "host"),
    ("tray/menu.cpp", "    platform::PostMessageW(WindowHandle, platform::WmNull, 0, 0);\n", "",
     "every other right-click the menu flashes and vanishes", "host"),
    ("tray/menu.cpp", "targets.find(drives[i]) != std::u16string_view::npos",
     "targets.find(drives[i]) == std::u16string_view::npos", "the menu ticks the drives that are not chosen", "host"),
    ("tray/menu.cpp", "CmdDriveFirst + (drives[i] - u'A')", "CmdDriveFirst + (drives[i] - u'B')",
     "choosing F in the menu toggles E", "host"),
    ("tray/menu.cpp", "    platform::SetForegroundWindow(WindowHandle);\n", "",
     "the menu does not close when the user clicks elsewhere", "host"),
    ("tray/menu.cpp", ": item.Checked    ? platform::MfChecked", ": item.Checked    ? platform::MfString",
     "no check mark anywhere in the menu", "host"),
    ("tray/texts.cpp", "enabled != 0 ? u\"ON\" : u\"OFF\"",
     "enabled == 0 ? u\"ON\" : u\"OFF\"", "the tooltip says the opposite of the truth", "e2e"),
    ("tray/menu.cpp", "            submenu = nullptr;\n", "", "the intervals appear among the drives, and the interval submenu is empty", "host"),
    # platform/win32/
    ("platform/win32/platform_win32.cpp", "    record.uCallbackMessage = data.CallbackMessage;\n", "",
     "clicks on the real icon do nothing", "e2e"),
    ("platform/win32/platform_win32.cpp",
     "    std::copy(std::begin(data.Tip), std::end(data.Tip), reinterpret_cast<char16_t*>(record.szTip));\n", "",
     "the icon's tooltip is empty", "e2e"),
    ("platform/win32/platform_win32.cpp", "    record.hIcon = static_cast<HICON>(data.Icon);\n", "",
     "the icon is a blank square", "e2e"),
    ("platform/win32/platform_win32.cpp",
     "::TrackPopupMenu(static_cast<HMENU>(menu), flags, x, y,",
     "::TrackPopupMenu(static_cast<HMENU>(menu), flags | TPM_RETURNCMD, x, y,",
     "nothing chosen in the menu happens", "e2e"),
    ("platform/win32/platform_win32.cpp", "static_cast<const BYTE*>(data), size);",
     "static_cast<const BYTE*>(data), size / 2);", "the Run value names a path cut in half", "e2e"),
    ("platform/win32/platform_win32.cpp", "    return ::MoveFileExW(Wide(existing), Wide(replacement), flags) != FALSE;",
     "    return ::MoveFileExW(Wide(existing), Wide(replacement), flags & ~MOVEFILE_REPLACE_EXISTING) != FALSE;",
     "no change is ever saved once the file exists", "e2e"),
    # planted by a second outside reader who saw only the program
    ("keepawake/marker.cpp", "action == MarkerAction::Skip || (action != MarkerAction::Use && !MayMakeMarker(letter))",
     "action == MarkerAction::Skip", "a drive dropped during a pass has a new marker written to it", "host"),
    ("keepawake/marker.cpp", "!platform::RemoveDirectoryW(folder) && inFolder == platform::ErrorSuccess",
     "inFolder == platform::ErrorSuccess && !platform::RemoveDirectoryW(folder)",
     "a dropped drive keeps an empty hidden .kestrun folder", "host"),
    ("keepawake/worker.cpp", "        if (result == platform::WaitObject0)\n            break;",
     "        if (result == platform::WaitObject0 + 1)\n            break;",
     "the worker stops at the first menu change and ignores exit", "host"),
    # a settings file that could not be read at start-up
    ("settings/settings_file.cpp", "    if (!SettingsFileUnread)\n        SettingsSaveFailures", "    if (true)\n        SettingsSaveFailures",
     "a settings file held at logon is overwritten with the first-run choices", "host"),
    ("state/state.cpp", "        if (drives.find(letter) == std::u16string::npos)\n            RememberDropped(letter);",
     "        if (drives.find(letter) == std::u16string::npos)\n            continue;",
     "the first-run drives keep their markers once the user's settings are read after all", "host"),
    # planted by a third outside reader who saw only the program
    ("settings/settings_text.cpp", "        p.erase(0, 3);", "        p.erase(0, 2);",
     "a settings file saved with a byte-order mark by an editor loses its first line", "host"),
    ("platform/win32/platform_win32.cpp", "(std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow",
     "(std::uint64_t{found.nFileSizeLow} << 32) | found.nFileSizeHigh",
     "every marker looks cut short, and is deleted and written anew at every start", "e2e"),
    # settings that settle by themselves: a file unread at start-up, a command as the user saw it,
    # a save held off, the end of the Windows session
    ("settings/settings_file.cpp", "    ApplySettings(values, !SettingsFileUnread);",
     "    ApplySettings(values);",
     "a settings file held at logon: every first-run drive gets a marker that stays", "e2e"),
    ("state/state.cpp", "                     Settings.UnchosenDrives.find(letter) == std::u16string::npos;",
     "                     true;", "a drive only the first-run choices picked gets a marker while the file is unread", "host"),
    ("app/main.cpp", "    RetrySettingsLater();\n", "",
     "a settings file held at logon is never read until the user opens the menu", "e2e"),
    ("tray/window_proc.cpp", "    if (message == platform::WmTimer && wParam == SettingsTimer) {", "    if (false) {",
     "a settings file held at logon is never read while Kestrun runs", "host"),
    ("settings/settings_file.cpp", "            file.Drives.push_back(letter);", "            (void)0;",
     "a drive ticked while the settings file was held is forgotten once it is read", "host"),
    ("tray/window_proc.cpp", "        if (target == SawChecked(command, target))", "        if (target == IsTargetDrive(letter))",
     "a drive item chosen while the file was read under the menu does the opposite of its check mark", "host"),
    ("tray/window_proc.cpp", "        SwitchEnabled(SawChecked(command, Settings.Enabled.load() != 0));",
     "        SwitchEnabled(Settings.Enabled.load() != 0);",
     "switching off in a menu drawn before a read switches Kestrun on", "host"),
    ("settings/settings_file.cpp", "        SettingsSaveFailures = WriteSettingsFile(pauses) ? 0 : SettingsSaveFailures + 1;",
     "        WriteSettingsFile(pauses);", "a change saved while a backup held the file is lost at exit", "host"),
    ("tray/window_proc.cpp", "        LandPendingSave();\n        platform::PostQuitMessage(0);",
     "        platform::PostQuitMessage(0);", "a change not yet saved is lost at exit", "host"),
    ("tray/window_proc.cpp", "        const std::uint64_t asked = AskKeepAwakeWorkerToStop();",
     "        const std::uint64_t asked = platform::GetTickCount64();",
     "a drive dropped just before log-off keeps its marker", "host"),
    ("tray/window_proc.cpp", "            platform::DestroyWindow(window);\n", "",
     "an update that asks Kestrun to close waits for it in vain", "host"),
    ("state/state.cpp", "    Settings.UnchosenDrives = chosen ? u\"\" : drives;\n    platform::LeaveCriticalSection(&SettingsLock);",
     "    platform::LeaveCriticalSection(&SettingsLock);\n    Settings.UnchosenDrives = chosen ? u\"\" : drives;",
     "a crash or a marker made on an unchosen drive when the settings file is read during a pass", "tsan"),
    # planted by a fourth outside reader who saw only the program
    ("drives/drives.cpp", "platform::QueryDosDeviceW(std::u16string{letter, u':'}, target, DosDeviceUnits)",
     "platform::QueryDosDeviceW(DriveRootPath(letter), target, DosDeviceUnits)",
     "the device query always fails, so SUBST letters are read and given markers again", "host"),
    ("tray/window_proc.cpp", "            SwitchEnabled(Settings.Enabled.load() != 0);",
     "            SwitchEnabled(SawChecked(CmdToggleEnabled, Settings.Enabled.load() != 0));",
     "after a menu closed without a choice, a double-click switches only every other time", "host"),
    ("tray/window_proc.cpp", "    WakeWorker();\n    RetrySettingsLater();\n}", "    WakeWorker();\n}",
     "a menu change whose save a backup held off is never retried, and lost at a crash", "host"),
    # a settings file in UTF-16 big-endian, a letter made by SUBST
    ("settings/settings_text.cpp", "        reader.Order = SettingsReader::ByteOrder::Utf16Be;",
     "        reader.Order = SettingsReader::ByteOrder::Utf16Le;",
     "a settings file saved by Notepad as UTF-16 big-endian loses every setting", "host"),
    ("drives/drives.cpp", "    return folder ? platform::DriveNoRootDir : type;",
     "    return folder && false ? platform::DriveNoRootDir : type;",
     "a letter made by subst gets a hidden marker in a folder of the Windows drive", "host"),
    # the user's last word over the unread file, a timer that neither hammers nor blocks, log-off in
    # time, an installer's close undone
    ("settings/settings_file.cpp", "    if (UserCommands.Enabled)\n", "    if (now.Enabled != 1)\n",
     "switched off and on while the settings file was held, Kestrun follows the file's Enabled=0", "host"),
    ("settings/settings_file.cpp", "        if (UserCommands.Drives.find(letter) != std::u16string::npos &&",
     "        if (false &&", "a first-run drive unticked and ticked again is dropped once the file reads", "host"),
    ("settings/settings_file.cpp", "            Save(SettlePausesMs);\n        return false;",
     "            Save({});\n        return false;",
     "a change held off once is never saved while a scanner looks at each new file", "host"),
    ("settings/settings_file.cpp", "    ReadFailures = state == FileState::Unreadable ? ReadFailures + 1 : 0;",
     "    ReadFailures = 0;", "a settings folder on a server out of reach freezes the menu every 5 s all session", "host"),
    ("settings/settings_file.cpp", "    ReadFailures = state == FileState::Unreadable ? ReadFailures + 1 : 0;",
     "    ReadFailures = state != FileState::Read ? ReadFailures + 1 : 0;",
     "a settings file held by a backup is read minutes after it is let go", "host"),
    ("settings/settings_file.cpp", " || MissingInARow == 1)", ")",
     "an editor replacing the file at the wrong instant has its settings overwritten by the first-run choices",
     "host"),
    ("tray/window_proc.cpp",
     "        const std::uint64_t asked = AskKeepAwakeWorkerToStop();\n        LandPendingSave();",
     "        LandPendingSave();\n        const std::uint64_t asked = AskKeepAwakeWorkerToStop();",
     "log-off takes too long and Windows ends Kestrun before the dropped drives lose their markers", "host"),
    ("app/startup.cpp", "    SetRestartRegistered(true);\n", "",
     "an update of an input method closes Kestrun and the drives sleep until the next logon", "host"),
    ("settings/autostart.cpp", "platform::RestartNoCrash | platform::RestartNoHang | platform::RestartNoReboot",
     "platform::RestartNoCrash | platform::RestartNoHang",
     "Kestrun starts after an update's reboot though start with Windows is off", "host"),
    ("tray/window_proc.cpp", "        SetRestartRegistered(false);", "        (void)0;",
     "Windows' restart of apps at sign-in starts Kestrun though start with Windows is off", "host"),
    ("tray/window_proc.cpp", "            SetRestartRegistered(true);", "            (void)0;",
     "after a shutdown another program cancelled, an installer's close is no longer undone", "host"),
    ("tray/window_proc.cpp", " || platform::GetSystemMetrics(platform::SmShuttingDown) != 0)", ")",
     "a restart that reopens registered programs starts Kestrun at logon though start with Windows is off", "host"),
    ("settings/settings_file.cpp", "    if (error == platform::ErrorFileNotFound)\n",
     "    if (error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound)\n",
     "an AppData folder on a server that is down gets the first-run choices written over it once it is back",
     "host"),
    # planted by a fifth outside reader who saw only the program
    ("tray/window_proc.cpp", "        SetRestartRegistered(false);",
     "    {\n        SetRestartRegistered(false);\n        return 0;\n    }",
     "Windows says Kestrun is preventing shutdown at every log-off", "host"),
    ("keepawake/worker.cpp", "spent = platform::GetTickCount64() - askedAt;", "spent = askedAt - platform::GetTickCount64();",
     "at log-off after a pending save, the worker is not waited for and a dropped drive keeps its marker", "host"),
    ("settings/settings_file.cpp", "    if (!whole)\n        return IsHeld(error) ? FileState::Held : FileState::Unreadable;",
     "    if (!whole)\n        return FileState::Unreadable;",
     "a settings file a sync client has locked at logon is read minutes after it is let go", "host"),
    ("settings/settings_file.cpp", "MissingInARow = state == FileState::Missing ? MissingInARow + 1 : 0;",
     "MissingInARow = state == FileState::Missing ? MissingInARow + 1 : MissingInARow;",
     "two separate instants without the file overwrite it with the first-run choices", "host"),
]


def run(layers):
    # A fault that makes the program spin or hang must not stall the table: its whole process group goes.
    test = subprocess.Popen(["bash", "scripts/test.sh", *layers.split()], cwd=SCRATCH, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, errors="replace", start_new_session=True)
    try:
        out, _ = test.communicate(timeout=900)
    except subprocess.TimeoutExpired:
        os.killpg(test.pid, signal.SIGKILL)
        test.communicate()
        return 1, "FAIL  timed-out"
    return test.returncode, out


def prepare():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    tracked = subprocess.check_output(["git", "ls-files", "-z"], cwd=ROOT).decode().split("\0")
    for name in filter(None, tracked):
        (SCRATCH / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ROOT / name, SCRATCH / name)
    template = ROOT / "build/wine-template"
    if (template / ".ready").exists():  # booting a Wine prefix takes a while
        shutil.copytree(template, SCRATCH / "build/wine-template", symlinks=True)


def main(argv):
    chosen = [int(a) for a in argv if a.isdigit()] or range(1, len(FAULTS) + 1)
    if "--list" in argv:
        for number in chosen:
            file, text, replacement, notice, layers = FAULTS[number - 1]
            print(f"{number:2}  {file}: {notice} [{layers}]")
        return 0
    started = time.time()
    prepare()
    rc, out = run("host")
    if rc != 0:
        print("the unchanged tree fails its host tests:\n" + out)
        return 1
    caught = 0
    for number in chosen:
        file, text, replacement, notice, layers = FAULTS[number - 1]
        path = SCRATCH / file
        original = path.read_text()
        if original.count(text) != 1:
            verdict = "NO LONGER APPLIES"
        else:
            path.write_text(original.replace(text, replacement))
            verdict = "SURVIVED"
            for attempt in (layers, EVERY_LAYER):
                rc, out = run(attempt)
                if "FAIL  build-" in out:
                    verdict = "DOES NOT BUILD"
                    break
                if rc != 0:
                    failed = [line.split()[1] for line in out.splitlines() if line.startswith("FAIL ")]
                    verdict = "caught by " + " ".join(failed)
                    caught += 1
                    break
            path.write_text(original)
        print(f"{number:2}  {verdict:32} {file}: {notice}", flush=True)
    print(f"\n{caught} of {len(chosen)} planted faults caught in {int(time.time() - started)} s")
    return 0 if caught == len(chosen) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
