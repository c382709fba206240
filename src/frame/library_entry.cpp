// The shared library's own entry point. Loading runs no initialisation of
// the library's own (every table is constant data) and unloading releases
// nothing: the Windows entry routine reports success for every notification.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
