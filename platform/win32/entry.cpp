// The Windows entry point: hands the instance handle to the program.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "app/main.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunKestrun(instance); }

#if defined(__GLIBCXX__)
#include <cstdlib>
// The only exception that can reach the top is running out of memory, which
// ends the process. libstdc++'s default handler would print the exception's
// demangled name to a console this program does not have, and its demangler
// alone is a fifth of the program's size.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
