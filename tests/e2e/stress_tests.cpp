// Faults users meet and stress the program must survive, on the real
// Kestrun.exe under Wine (run one scenario per fresh prefix by run.sh).
#include "tests/e2e/driver.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

namespace {

struct State {
    int enabled = 1;
    int interval = 30;
    std::string drives = "E";

    // What a command does to the state, as the program's window procedure does it.
    void Apply(WPARAM command) {
        if (command == 100)
            enabled = 1 - enabled;
        else if (command >= 200 && command <= 203)
            interval = std::vector<int>{15, 30, 60, 120}[command - 200];
        else if (command >= 300 && command <= 325) {
            const char letter = static_cast<char>('A' + command - 300);
            const auto at = drives.find(letter);
            if (at == std::string::npos)
                drives.push_back(letter);
            else
                drives.erase(at, 1);
        }
    }
    std::string File() const { return Canonical(enabled, interval, drives); }
};

int Rounds() {
    const std::wstring rounds = Env(L"KESTRUN_KILL_ROUNDS");
    return rounds.empty() ? 200 : std::stoi(rounds);
}

WPARAM RandomCommand(std::mt19937& random) {
    const WPARAM commands[] = {100, 200, 201, 202, 203, 304, 305};
    return commands[random() % 7];
}

// Wine cannot report another process's memory, so the script reads it from /proc.
long ResidentKb() { return std::atol(AskOutside("kestrun-rss").c_str()); }

void RequireNoMarkerOffTarget(const std::string& drives) {
    for (char d : {'E', 'F'}) {
        const std::wstring marker = std::wstring(1, wchar_t(d)) + L":\\.kestrun.dat";
        if (drives.find(d) == std::string::npos)
            EXPECT_FALSE(Exists(marker)) << d << " is no target but keeps a marker";
    }
}

}  // namespace

// Killed at random moments while commands pour in, the program always leaves
// a whole settings file holding a state it really had.
TEST(Stress, KilledAnywhereTheSettingsFileStaysWhole) {
    std::mt19937 random(20261206);
    State state;
    int torn = 0;
    for (int round = 0; round < Rounds(); ++round) {
        Kestrun k;
        ASSERT_TRUE(k.Start()) << round;
        std::vector<std::string> possible = {state.File()};
        for (int i = 0; i < 40; ++i) {
            const WPARAM command = RandomCommand(random);
            PostMessageW(k.Window(), WM_COMMAND, command, 0);
            state.Apply(command);
            possible.push_back(state.File());
        }
        Sleep(random() % 40);
        k.Kill();
        const std::string file = SettingsNow();
        const bool known = std::find(possible.begin(), possible.end(), file) != possible.end();
        if (!known) {
            ++torn;
            ADD_FAILURE() << "round " << round << ": the settings file holds no state the program had:\n" << file;
            break;
        }
        // The next start loads the file: rebuild the state from it.
        State loaded;
        loaded.enabled = file.find("Enabled=1") != std::string::npos ? 1 : 0;
        const auto at = file.find("IntervalSec=") + 12;
        loaded.interval = std::stoi(file.substr(at));
        const auto d = file.find("Drives=") + 7;
        loaded.drives = file.substr(d, file.find('\r', d) - d);
        state = loaded;
    }
    std::printf("figure: 200 hard kills during command storms, %d left a file the program never had\n", torn);
}

// Ten thousand commands as fast as the window takes them, while passes run.
TEST(Stress, TenThousandCommandsLeaveNothingBehind) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    State state;
    ASSERT_TRUE(WaitFor([&] { return SettingsNow() == state.File(); }));
    // Warm up so that the first saves' one-time costs do not count as growth.
    for (WPARAM command : {201, 305, 305, 100, 100}) {
        k.Command(command);
        state.Apply(command);
    }
    const long before = ResidentKb();
    std::mt19937 random(42);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        const WPARAM command = RandomCommand(random);
        k.Command(command);
        state.Apply(command);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = ResidentKb();
    std::printf("figure: 10000 commands in %.1f s; resident memory %ld kB before, %ld kB after\n", seconds, before, after);
    ASSERT_GT(before, 0) << "the resident size was read";
    EXPECT_LT(after, before + 512) << "memory grows with commands";
    EXPECT_EQ(SettingsNow(), state.File());
    k.Command(201);  // one more pass, after the storm has settled
    state.Apply(201);
    Sleep(500);
    RequireNoMarkerOffTarget(state.drives);
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Faults, UnmappedTargetIsSkippedThenResumed) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0; }));
    AskOutside("unmap-e");
    const int reads = MarkerReads('e');
    k.Command(201);  // a pass while E is gone
    k.Command(201);
    Sleep(300);
    EXPECT_EQ(MarkerReads('e'), reads);
    AskOutside("map-e");
    k.Command(201);
    EXPECT_TRUE(WaitFor([&] { return MarkerReads('e') > reads; })) << "passes resume once the drive is back";
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "E")) << "the drive stays a target";
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Faults, MarkerDeletedByTheUserComesBack) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    // Read, not merely there: while the pass still holds the new file, nobody else may delete it.
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0; }));
    SetFileAttributesW(L"E:\\.kestrun.dat", FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(L"E:\\.kestrun.dat"));
    k.Command(201);  // the next pass
    EXPECT_TRUE(WaitFor([] { return ReadBytes(L"E:\\.kestrun.dat") == std::string(4096, '\0'); }));
    EXPECT_EQ(k.Exit(), 0u);
}

// F's folder is immutable (chattr +i, set by run.sh): no marker can be made there.
TEST(Faults, ReadOnlyTargetIsSkippedQuietly) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    k.Command(305);
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "EF"));
    for (int pass = 0; pass < 3; ++pass)
        k.Command(201);
    Sleep(300);
    EXPECT_FALSE(Exists(L"F:\\.kestrun.dat"));
    EXPECT_TRUE(WaitFor([] { return MarkerReads('e') >= 3; })) << "the other target is read on every pass";
    EXPECT_EQ(WaitForSingleObject(k.Process(), 0), DWORD(WAIT_TIMEOUT)) << "still running";
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Faults, RemovedSettingsFolderFailsQuietlyUntilTheNextStart) {
    const std::wstring path = SettingsPath();
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    {
        Kestrun k;
        ASSERT_TRUE(k.Start());
        ASSERT_TRUE(DeleteFileW(path.c_str()));
        ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
        k.Command(202);
        k.Command(100);
        EXPECT_FALSE(Exists(folder));
        EXPECT_EQ(k.Exit(), 0u);
    }
    Kestrun again;
    ASSERT_TRUE(again.Start());
    EXPECT_EQ(SettingsNow(), Canonical(1, 30, "E")) << "the folder and the defaults are back";
    EXPECT_EQ(again.Exit(), 0u);
}

TEST(Faults, ForeignRunValuesAreReplaced) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                            KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const std::wstring expand = L"%SystemRoot%\\other.exe";
    const std::wstring longer(520, L'x');  // 1042 bytes with its terminator
    const std::pair<DWORD, std::wstring> values[] = {{REG_EXPAND_SZ, expand}, {REG_SZ, longer}};
    for (const auto& [type, data] : values) {
        RegSetValueExW(key, L"Kestrun", 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * 2));
        k.Command(101);  // counts as not registered, so the command registers
        DWORD now = 0;
        EXPECT_EQ(RunValue(&now), L"\"" + ExePath() + L"\"") << type;
        EXPECT_EQ(now, DWORD(REG_SZ));
    }
    RegCloseKey(key);
    EXPECT_EQ(k.Exit(), 0u);
}

TEST(Faults, HugeSettingsFileLoads) {
    std::string bytes = Mark;
    const std::string filler = "# " + std::string(300, 'x') + "\r\nDrives=" + std::string(700, 'Q') + "\r\n";
    bytes.reserve(200u << 20);
    while (bytes.size() < (200u << 20))
        bytes += filler;
    bytes += "IntervalSec=120\r\nDrives=F\r\n";
    WriteBytes(SettingsPath(), bytes);
    bytes.clear();
    bytes.shrink_to_fit();
    const auto start = std::chrono::steady_clock::now();
    Kestrun k;
    ASSERT_TRUE(k.Start());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(SettingsNow(), Canonical(1, 120, "F"));
    std::printf("figure: start with a 200 MB settings file to the window: %.2f s; resident %ld kB\n", seconds,
                ResidentKb());
    EXPECT_EQ(k.Exit(), 0u);
}

// Between passes no handle stays open on a target drive, so Windows can
// always eject it ("Safely Remove").
TEST(Faults, NoHandleStaysOpenBetweenPasses) {
    Kestrun k;
    ASSERT_TRUE(k.Start());
    k.Command(305);
    ASSERT_TRUE(WaitFor([] { return MarkerReads('e') > 0 && MarkerReads('f') > 0; }));
    // The look sees open handles at all: one of ours shows up.
    HANDLE mine = CreateFileW(L"E:\\.kestrun.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(AskOutside("open-files").find(".kestrun.dat"), std::string::npos);
    CloseHandle(mine);
    for (int look = 0; look < 5; ++look) {
        Sleep(200);
        EXPECT_EQ(AskOutside("open-files"), "") << "look " << look;
    }
    EXPECT_EQ(k.Exit(), 0u);
}
