// CommandLine.dll, a plug-in of the Windows installer (NSIS): CommandLine::Read puts the installer's
// whole command line into $R0. The installer sees its /D= folder only if the folder is usable, and
// its $CMDLINE leaves /D= out, so without this a silent install to a folder on a missing drive would
// go to the default folder instead of failing.
//
// NSIS calls a plug-in function with the length of its string variables and a pointer to them: $0
// to $9, then $R0 to $R9, each `stringSize` UTF-16 units long.
#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) void __cdecl Read(HWND, int stringSize, wchar_t* variables, void*, void*) {
    constexpr int kR0 = 10;
    if (variables == nullptr || stringSize <= 0) return;
    wchar_t* r0 = variables + static_cast<size_t>(kR0) * static_cast<size_t>(stringSize);
    std::wcsncpy(r0, GetCommandLineW(), static_cast<size_t>(stringSize) - 1);
    r0[stringSize - 1] = L'\0';
}
