// The program entry: the units come up in a fixed order, the guard admits one
// instance per session, the hidden main window runs the message loop, and the
// exit takes everything down again in reverse.
#include <windows.h>

#include <exception>
#include <iterator>

#include "app/Utils.ProhibitMultiExec.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/FailureBoxes.h"
#include "framework/Handles.h"
#include "framework/Services.h"
#include "framework/Styles.h"
#include "net_vpn/RasApi.h"
#include "settings/uIniManager.h"
#include "ui/uMain.h"

namespace {

constexpr wchar_t KInstanceMutexName[] = L"AA05DFEB-EC0A-4439-A693-17DE4AEAEDE0";
constexpr wchar_t KThemeName[] = L"Glow";

constexpr int KExitOk = 0;
constexpr int KExitLastChance = 1;
constexpr int KExitInitialization = 217;

// The units that do work at start and at exit, in initialisation order;
// finalisation runs in reverse. The framework comes first: it reads the
// start-up locale and makes the application object and its window. The
// settings come next: they are read before the instance guard is taken, so
// even a refused second start has read them (and writes them back), and
// they are finalised, which writes them, only after the main window is gone.
struct TUnit {
    void (*Initialize)();
    void (*Finalize)();
};

constexpr TUnit KUnits[] = {
    {.Initialize = fw::InitializeFrameworkUnit, .Finalize = fw::FinalizeFrameworkUnit},
    {.Initialize = uIniManager::InitializeUnit, .Finalize = uIniManager::FinalizeUnit},
};

// Finalises the first ACount units, newest first. Every unit is finalised
// even when one fails; the first error is returned.
std::exception_ptr FinalizeUnits(size_t ACount)
{
    std::exception_ptr first;
    while (ACount > 0) {
        try {
            KUnits[--ACount].Finalize();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    return first;
}

[[noreturn]] void Halt(int AExitCode, bool ARunReached)
{
    std::exception_ptr error;
    if (ARunReached) {
        try {
            fw::Application->DestroyForms();
        } catch (...) {
            error = std::current_exception();
        }
    }
    std::exception_ptr finalError = FinalizeUnits(std::size(KUnits));
    if (!error) error = finalError;
    if (error) {
        fw::ShowLastChanceBox(error);
        AExitCode = KExitLastChance;
    }
    // Workers still waiting on a hand-off end with the process; nothing awaits them.
    ExitProcess(static_cast<UINT>(AExitCode));
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Every later load by name, ours or a system DLL's, searches the system
    // folder only, so a DLL dropped beside the executable (a downloads
    // folder, say) never runs.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The operating system's services, as the program reaches them from here on.
    fw::TServices services = fw::SystemServices();
    services.RemoteAccess = &RasApi::SystemBinding();
    fw::InstallServices(services);
    size_t initialized = 0;
    try {
        for (; initialized < std::size(KUnits); ++initialized) KUnits[initialized].Initialize();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        FinalizeUnits(initialized);
        fw::ShowRuntimeErrorBox(KExitInitialization, fw::ExceptionAddress(error));
        ExitProcess(KExitInitialization);
    }

    using namespace Utils::ProhibitMultiExec;
    int exitCode = KExitOk;
    bool runReached = false;
    try {
        // A refused start leaves at once; its handle closes with the process.
        if (CreateInstanceMutex(KInstanceMutexName)) {
            // An installer or update that closes the program through Restart
            // Manager starts it again afterwards. Not after a crash, a hang or
            // a reboot: at logon the autorun value alone decides. Should the
            // system refuse, the program runs all the same, only not restarted.
            static_cast<void>(RegisterApplicationRestart(L"", RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT));
            // Released however the run ends, before an error is reported.
            fw::TScopeExit release([] { ReleaseInstanceMutex(); });
            fw::Application->Initialize();
            fw::TStyleManager::TrySetStyle(KThemeName, true);
            fw::Application->MainFormOnTaskBar = false;
            fw::Application->ShowMainForm = false;
            fw::Application->CreateForm(uMain::frmMain);
            runReached = true;
            fw::Application->Run();
        }
    } catch (...) {
        fw::ShowLastChanceBox(std::current_exception());
        exitCode = KExitLastChance;
    }
    Halt(exitCode, runReached);
}
