#include "app/main.h"

#include "keepawake/keepawake.h"
#include "settings/settings.h"
#include "state/state.h"
#include "tray/tray.h"

namespace {

// Start-up could not make the window, an event or the worker: a program that
// cannot be reached or does nothing is worse than none, so undo and leave.
int GiveUp() {
    if (StopEvent != nullptr)
        platform::CloseHandle(StopEvent);
    if (WakeEvent != nullptr)
        platform::CloseHandle(WakeEvent);
    StopEvent = WakeEvent = nullptr;
    if (WindowHandle != nullptr)
        platform::DestroyWindow(WindowHandle);
    WindowHandle = nullptr;
    platform::DeleteCriticalSection(&SettingsLock);
    platform::CoUninitialize();
    if (InstanceMutex != nullptr)
        platform::CloseHandle(InstanceMutex);
    return 0;
}

}  // namespace

int RunKestrun(platform::Handle instance) {
    if (!StartKestrun(instance))
        return 0;

    // A hidden top-level window rather than a message-only one: only top-level
    // windows hear "TaskbarCreated" when Explorer restarts.
    TaskbarCreatedMessage = platform::RegisterWindowMessageW(u"TaskbarCreated");
    platform::WindowClass windowClass;
    windowClass.Procedure = TrayWndProc;
    windowClass.Instance = instance;
    windowClass.Icon = platform::LoadIconW(instance, IconResourceId);
    windowClass.ClassName = u"KestrunWnd";
    platform::RegisterClassW(windowClass);
    WindowHandle = platform::CreateWindowExW(0, u"KestrunWnd", u"Kestrun", 0, 0, 0, 0, 0, nullptr, nullptr, instance);
    if (WindowHandle == nullptr)
        return GiveUp();
    // An instance started as administrator hears the shell's restart only if it lets the message in.
    platform::ChangeWindowMessageFilterEx(WindowHandle, TaskbarCreatedMessage, platform::MsgfltAllow);
    StopEvent = platform::CreateEventW(true, false);
    WakeEvent = platform::CreateEventW(false, false);
    if (StopEvent == nullptr || WakeEvent == nullptr)
        return GiveUp();
    WorkerThread = platform::CreateThread(0, KeepAwakeWorker, nullptr, 0);
    if (WorkerThread == nullptr)
        return GiveUp();
    AddTrayIcon();
    RetrySettingsLater();

    // GetMessageW gives -1 on failure; looping on it would spin forever.
    platform::Message message;
    while (platform::GetMessageW(&message, nullptr, 0, 0) > 0) {
        platform::TranslateMessage(&message);
        platform::DispatchMessageW(&message);
    }

    // A worker still in a pass (a drive slow to answer) may yet touch the lock,
    // the events and the strings: end the process with all of them in place.
    if (!StopKeepAwakeWorker())
        platform::ExitProcess(0);
    platform::CloseHandle(WorkerThread);
    platform::CloseHandle(StopEvent);
    platform::CloseHandle(WakeEvent);
    platform::DeleteCriticalSection(&SettingsLock);
    platform::CoUninitialize();
    if (InstanceMutex != nullptr)
        platform::CloseHandle(InstanceMutex);
    return 0;
}
