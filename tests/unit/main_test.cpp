#include <future>

#include "app/main.h"
#include "settings/settings.h"
#include "tests/unit/support.h"
#include "tray/tray.h"

namespace {

const std::u16string SettingsPath = u"C:\\Users\\Tester\\AppData\\Roaming\\Kestrun\\config.ini";
const std::u16string MutexName = u"Kestrun_SingleInstance_Mutex";

// The whole program on the fake: it creates its own lock, events and worker.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        Settings.Enabled = 1;
        Settings.IntervalSec = 30;
        Settings.TargetDrives.clear();
        AppPaths = AppPathsRecord{};
        TrayIcon = platform::NotifyIconData{};
        WindowHandle = StopEvent = WakeEvent = WorkerThread = nullptr;
        fake::AddDrive('C', fake::Drive{platform::DriveFixed, 17, false, false});
        fake::AddDrive('E', fake::Drive{platform::DriveRemovable, 7, false, false});
        for (const char16_t* dir : {u"C:\\Users", u"C:\\Users\\Tester", u"C:\\Users\\Tester\\AppData",
                                    u"C:\\Users\\Tester\\AppData\\Roaming"})
            fake::PutDirectory(dir);
    }
    void TearDown() override { fake::Reset(); }

    // Runs the program on its own thread, as the process's main thread.
    static std::future<int> Start() {
        return std::async(std::launch::async, [] {
            try {
                return RunKestrun(reinterpret_cast<platform::Handle>(0x400000));
            } catch (const fake::ProcessExit& exit) {
                return 1000 + static_cast<int>(exit.Code);  // ended through ExitProcess
            }
        });
    }
    static void* AwaitWindow() {
        for (int i = 0; i < 2000; ++i) {
            if (void* window = fake::WindowOf(u"KestrunWnd"))
                return window;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return nullptr;
    }
    static std::vector<std::string> Names(const std::vector<std::string>& wanted) {
        std::vector<std::string> out;
        for (const auto& c : fake::Calls())
            if (std::find(wanted.begin(), wanted.end(), c.Name) != wanted.end())
                out.push_back(c.Name);
        return out;
    }
};

}  // namespace

TEST_F(Program, StartsRunsAndShutsDownInOrder) {
    auto program = Start();
    void* window = AwaitWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));  // the worker's first pass is done
    EXPECT_TRUE(fake::HasMutex(MutexName));
    EXPECT_EQ(fake::GetFile(SettingsPath).Bytes, FormatSettingsFile(1, 30, u"E"));
    EXPECT_TRUE(fake::HasFile(u"E:\\.kestrun.dat"));
    fake::Post(window, platform::WmCommand, CmdExit, 0);
    EXPECT_EQ(program.get(), 0);

    EXPECT_EQ(Names({"CreateMutexW", "CoInitializeEx", "InitializeCriticalSection", "GetModuleFileNameW",
                     "GetWindowsDirectoryW", "SHGetKnownFolderPath", "MoveFileExW", "RegisterClassW",
                     "CreateWindowExW", "CreateEventW", "CreateThread", "Shell_NotifyIconW", "GetMessageW",
                     "WaitForSingleObject", "DeleteCriticalSection", "CoUninitialize"}),
              (std::vector<std::string>{"CreateMutexW", "CoInitializeEx", "InitializeCriticalSection",
                                        "GetModuleFileNameW", "GetWindowsDirectoryW", "SHGetKnownFolderPath",
                                        "MoveFileExW", "RegisterClassW", "CreateWindowExW", "CreateEventW",
                                        "CreateEventW", "CreateThread", "Shell_NotifyIconW", "Shell_NotifyIconW",
                                        "GetMessageW", "Shell_NotifyIconW", "GetMessageW",
                                        "WaitForSingleObject", "DeleteCriticalSection", "CoUninitialize"}));
    const auto notes = fake::Notifications();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].Message, platform::NimAdd);
    EXPECT_EQ(notes[1].Tip, u"Kestrun - ON (30s)");
    EXPECT_EQ(notes[2].Message, platform::NimDelete);
    EXPECT_FALSE(fake::HasMutex(MutexName)) << "the next start may run";
    EXPECT_EQ(AppPaths.ProgramPath, u"C:\\Program Files\\Kestrun\\Kestrun.exe");
    EXPECT_EQ(AppPaths.SystemDriveLetter, u"C");
}

TEST_F(Program, SecondInstanceLeavesAtOnceTouchingNothing) {
    fake::PutMutex(MutexName);
    EXPECT_EQ(Start().get(), 0);
    EXPECT_EQ(fake::CountCalls("CoInitializeEx"), 0);
    EXPECT_EQ(fake::CountCalls("CreateFileW"), 0);
    EXPECT_EQ(fake::CountCalls("SHGetKnownFolderPath"), 0);
    EXPECT_TRUE(fake::Notifications().empty());
    EXPECT_EQ(fake::CountCalls("CloseHandle"), 0);
}

TEST_F(Program, StartUpThatCannotCompleteUndoesItselfQuietly) {
    for (const char* failing : {"CreateWindowExW", "CreateEventW", "CreateThread"}) {
        SetUp();
        fake::FailCall(failing, 1);
        EXPECT_EQ(Start().get(), 0) << failing;
        EXPECT_TRUE(fake::Notifications().empty()) << failing << ": no icon was ever shown";
        EXPECT_EQ(fake::CountCalls("CreateThread"), std::string(failing) == "CreateThread" ? 1 : 0) << failing;
        EXPECT_EQ(fake::CountCalls("DeleteCriticalSection"), 1) << failing;
        EXPECT_EQ(fake::CountCalls("CoUninitialize"), 1) << failing;
        EXPECT_FALSE(fake::HasMutex(MutexName)) << failing;
        EXPECT_EQ(fake::WindowOf(u"KestrunWnd"), nullptr) << failing;
    }
}

// A pass stuck on a drive that does not answer: the process must end without
// releasing anything the worker may still touch.
TEST_F(Program, HungWorkerEndsTheProcessWithoutReleasingItsState) {
    fake::PutFile(u"E:\\.kestrun.dat", fake::File{0x26, std::string(4096, '\0'), true});
    auto program = Start();
    void* window = AwaitWindow();
    ASSERT_NE(window, nullptr);
    fake::Post(window, platform::WmCommand, CmdExit, 0);
    ASSERT_TRUE(fake::AwaitBlockedWaits(1));  // shutdown waits for the worker
    EXPECT_EQ(fake::WaitTimeouts().back(), 3000u);
    fake::AdvanceClock(3000);
    EXPECT_EQ(program.get(), 1000) << "ExitProcess(0)";
    EXPECT_EQ(fake::CountCalls("DeleteCriticalSection"), 0);
    EXPECT_EQ(fake::CountCalls("CoUninitialize"), 0);
    EXPECT_EQ(fake::Notifications().back().Message, platform::NimDelete);
    fake::ReleaseHungReads();
}

TEST_F(Program, UnreadableWindowsDirectoryExcludesNoDrive) {
    fake::SetWindowsDirectory(u"");
    fake::AddDrive('C', fake::Drive{platform::DriveRemovable, 0, false, false});
    fake::SetModulePath(u"C:\\" + std::u16string(300, u'k'));
    auto program = Start();
    void* window = AwaitWindow();
    ASSERT_NE(window, nullptr);
    fake::Post(window, platform::WmCommand, CmdExit, 0);
    EXPECT_EQ(program.get(), 0);
    EXPECT_EQ(AppPaths.SystemDriveLetter, std::u16string(1, u'\0'));
    EXPECT_EQ(fake::GetFile(SettingsPath).Bytes, FormatSettingsFile(1, 30, u"CE"));
    EXPECT_EQ(AppPaths.ProgramPath.size(), 259u) << "cut to what the buffer holds";
}
