#pragma once
#include "platform/platform.h"

// The whole life of the process: start-up, the message loop and shutdown. The
// platform's entry point calls it with the instance handle; it returns the exit code.
int RunKestrun(platform::Handle instance);

// Start-up up to the window: the single-instance guard, the lock, the paths,
// the settings. False when another instance runs.
bool StartKestrun(platform::Handle instance);
std::u16string ReadProgramPath();
extern platform::Handle InstanceMutex;
