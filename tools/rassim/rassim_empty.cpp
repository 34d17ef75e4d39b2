// A remote-access service without the service: a rasapi32.dll that exports
// none of the functions the program binds, only the marker that tells the
// copies apart. The program must run on without it, showing no entries.
#include <windows.h>

extern "C" const wchar_t* WINAPI RasSimVariant()
{
    return L"empty";
}
