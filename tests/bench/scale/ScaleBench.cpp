// How the program's own work around the remote-access service grows with the
// phonebook: building the entry list, opening the menu (one check mark per
// entry) and one poll, each timed next to the bare service calls it makes,
// issued through the same binding, in the same order, with the same arguments.
// Runs of the different ways alternate, so drift and noise fall on all alike;
// a second copy of the bare calls measured the same way shows the noise floor.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/Application.h"
#include "framework/Text.h"
#include "net_vpn/Net.VPN.Win.h"
#include "net_vpn/RasApi.h"
#include "settings/uIniManager.h"
#include "tests/TestSupport.h"
#include "ui/uMain.h"

namespace {

using NetVPNWin::TVPNInfo;
using NetVPNWin::TVPNManager;
using RasApi::HRASCONN;
using uMain::TfrmMain;

// ---- time and statistics ----

double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMs;
}

template <typename F>
double TimeMs(F&& AFn)
{
    double start = NowMs();
    AFn();
    return NowMs() - start;
}

double Quantile(std::vector<double> AValues, double AQ)
{
    if (AValues.empty()) return 0;
    std::sort(AValues.begin(), AValues.end());
    double position = AQ * static_cast<double>(AValues.size() - 1);
    size_t below = static_cast<size_t>(position);
    size_t above = std::min(below + 1, AValues.size() - 1);
    double weight = position - static_cast<double>(below);
    return AValues[below] * (1 - weight) + AValues[above] * weight;
}

double Median(const std::vector<double>& AValues)
{
    return Quantile(AValues, 0.5);
}

// A distribution-free 95 % interval of the median: the order statistics of
// ranks (n - 1.96 sqrt n) / 2 and 1 + (n + 1.96 sqrt n) / 2.
std::pair<double, double> MedianInterval(std::vector<double> AValues)
{
    if (AValues.empty()) return {0, 0};
    std::sort(AValues.begin(), AValues.end());
    double n = static_cast<double>(AValues.size());
    double spread = 1.96 * std::sqrt(n);
    size_t low = static_cast<size_t>(std::max(1.0, std::floor((n - spread) / 2)));
    size_t high = static_cast<size_t>(std::min(n, std::ceil(1 + (n + spread) / 2)));
    return {AValues[low - 1], AValues[high - 1]};
}

// ---- options ----

struct TOptions {
    std::vector<int> Sizes{10, 100, 1000};
    std::string Ops;         // "list", "menu", "poll", "result", comma-separated; empty: all
    double BudgetMs = 45000; // per measurement, spent once MinRuns rounds are done
    int MinRuns = 15;
    int MaxRuns = 201;
    bool Control = true; // the bare calls a second time, as an A/A control
    bool Check = true;   // compare the service calls of every way through the call log
    enum { BreakdownLargest, BreakdownAll, BreakdownNone } Breakdown = BreakdownLargest;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr,
                 "usage: tw_scale_bench [--sizes 10,100,1000] [--ops list,menu,poll,result] [--budget SECONDS]\n"
                 "                      [--min-runs K] [--max-runs K] [--breakdown | --no-breakdown]\n"
                 "                      [--no-control] [--no-check]\n");
    std::exit(2);
}

TOptions ParseOptions(int argc, wchar_t** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        auto value = [&]() -> std::wstring {
            if (i + 1 >= argc) Usage();
            return argv[++i];
        };
        auto count = [&] {
            long n = std::wcstol(value().c_str(), nullptr, 10);
            if (n < 1) Usage();
            return static_cast<int>(n);
        };
        if (arg == L"--sizes") {
            options.Sizes.clear();
            std::wstring list = value();
            for (size_t start = 0; start <= list.size();) {
                size_t comma = std::min(list.find(L',', start), list.size());
                long n = std::wcstol(list.substr(start, comma - start).c_str(), nullptr, 10);
                if (n < 1 || n > 9999) Usage();
                options.Sizes.push_back(static_cast<int>(n));
                start = comma + 1;
            }
        } else if (arg == L"--ops") {
            std::wstring ops = value();
            options.Ops.assign(ops.begin(), ops.end());
        } else if (arg == L"--budget") {
            options.BudgetMs = std::wcstod(value().c_str(), nullptr) * 1000;
        } else if (arg == L"--min-runs") {
            options.MinRuns = count();
        } else if (arg == L"--max-runs") {
            options.MaxRuns = count();
        } else if (arg == L"--breakdown") {
            options.Breakdown = TOptions::BreakdownAll;
        } else if (arg == L"--no-breakdown") {
            options.Breakdown = TOptions::BreakdownNone;
        } else if (arg == L"--no-control") {
            options.Control = false;
        } else if (arg == L"--no-check") {
            options.Check = false;
        } else {
            Usage();
        }
    }
    options.MaxRuns = std::max(options.MaxRuns, options.MinRuns);
    return options;
}

bool Wanted(const TOptions& AOptions, const char* AKey)
{
    return AOptions.Ops.empty() || AOptions.Ops.find(AKey) != std::string::npos;
}

// Makes the compiler treat the memory at AData as used, as a call to the service would.
void Escape(const void* AData)
{
    __asm__ __volatile__("" : : "g"(AData) : "memory");
}

// ---- the phonebook ----

std::wstring VpnName(int AIndex)
{
    wchar_t name[32];
    std::swprintf(name, 32, L"Branch office VPN %04d", AIndex + 1);
    return name;
}

struct TPhonebook {
    std::vector<std::wstring> Lines;
    std::wstring ConnectedName;
};

// AVpnCount VPN entries with two dial-up entries among them, and three active
// connections: an early VPN entry still connecting, a dial-up entry at another
// state, and the connected VPN entry late in the list. The connected one is
// enumerated last, so the poll asks the status of all three.
TPhonebook MakePhonebook(int AVpnCount)
{
    TPhonebook book;
    int late = AVpnCount - 1 - AVpnCount / 10;
    int early = std::min(1, AVpnCount - 1);
    book.ConnectedName = VpnName(late);
    for (int i = 0; i < AVpnCount; ++i) {
        if (i == AVpnCount / 3) book.Lines.push_back(L"entry\tphone\tDial-up 1");
        if (i == 2 * AVpnCount / 3) book.Lines.push_back(L"entry\tphone\tDial-up 2");
        book.Lines.push_back(L"entry\tvpn\t" + VpnName(i));
    }
    book.Lines.push_back(L"conn\t1\tconnecting\t" + VpnName(early));
    book.Lines.push_back(L"conn\t2\t3\tDial-up 1");
    book.Lines.push_back(L"conn\t3\tconnected\t" + book.ConnectedName);
    return book;
}

// ---- the bare calls ----

// The service calls of each operation and nothing else: names, handles and
// buffers are worked out beforehand from what the service lists.
class TBareCalls {
public:
    TBareCalls(const TVPNManager& AManager, const std::vector<fw::TMenuItem*>& AItems)
    {
        for (const RasApi::TRasEntryNameW& record : RasApi::EnumEntries())
            // Trimmed, as the list asks for an entry's properties.
            FQueryNames.emplace_back(fw::Trim(RasApi::FieldText(record.szEntryName)));
        FEntryNames.resize(std::max<size_t>(1, FQueryNames.size()));

        std::vector<RasApi::TRasConnW> connections = RasApi::EnumConnections();
        FConnections.resize(std::max<size_t>(1, connections.size()));
        for (fw::TMenuItem* item : AItems) {
            std::wstring name = AManager.Items(static_cast<int>(item->Tag)).FName;
            HRASCONN match = nullptr;
            for (const RasApi::TRasConnW& connection : connections)
                if (RasApi::FieldText(connection.szEntryName) == name) {
                    match = connection.hrasconn;
                    break;
                }
            FMenuMatches.push_back(match);
        }
        for (const RasApi::TRasConnW& connection : connections) {
            if (!connection.hrasconn) continue;
            FPollHandles.push_back(connection.hrasconn);
            if (Status(connection.hrasconn) == 0 && FStatus.rasconnstate == RasApi::RASCS_Connected) break;
        }
    }

    // The two-call entry enumeration, then the size and the record query per entry.
    void VPNList()
    {
        EnumEntries();
        PropertyQueries();
    }

    // As VPNList, the enumeration through the program's two-call helper.
    void VPNListWithHelper()
    {
        std::vector<RasApi::TRasEntryNameW> records = RasApi::EnumEntries();
        PropertyQueries();
    }

    // Per menu item: the two-call connection enumeration, the status of its match.
    void MenuOpening()
    {
        for (size_t i = 0; i < FMenuMatches.size(); ++i) MenuEntry(i);
    }

    void MenuEntry(size_t AIndex)
    {
        EnumConnections();
        if (FMenuMatches[AIndex]) Status(FMenuMatches[AIndex]);
    }

    // As MenuEntry, the enumeration through the program's two-call helper.
    void MenuEntryWithHelper(size_t AIndex)
    {
        std::vector<RasApi::TRasConnW> connections = RasApi::EnumConnections();
        if (FMenuMatches[AIndex]) Status(FMenuMatches[AIndex]);
    }

    // What a menu opening would ask if it enumerated once for all items.
    void MenuOpeningEnumeratingOnce()
    {
        EnumConnections();
        for (HRASCONN match : FMenuMatches)
            if (match) Status(match);
    }

    // The two-call connection enumeration, then the status of each handle up to a connected one.
    void Poll()
    {
        EnumConnections();
        for (HRASCONN handle : FPollHandles) Status(handle);
    }

private:
    void EnumEntries()
    {
        DWORD size = 0, count = 0;
        RasApi::RasEnumEntriesW(nullptr, nullptr, nullptr, &size, &count);
        FEntryNames[0].dwSize = sizeof(RasApi::TRasEntryNameW);
        size = static_cast<DWORD>(FEntryNames.size() * sizeof(RasApi::TRasEntryNameW));
        RasApi::RasEnumEntriesW(nullptr, nullptr, FEntryNames.data(), &size, &count);
    }

    // The size and the record query per entry.
    void PropertyQueries()
    {
        for (const std::wstring& name : FQueryNames) {
            DWORD need = 0;
            RasApi::RasGetEntryPropertiesW(nullptr, name.c_str(), nullptr, &need, nullptr, nullptr);
            need = sizeof(RasApi::RASENTRYW);
            FEntry.dwSize = sizeof(RasApi::RASENTRYW);
            RasApi::RasGetEntryPropertiesW(nullptr, name.c_str(), &FEntry, &need, nullptr, nullptr);
        }
    }

    void EnumConnections()
    {
        DWORD size = 0, count = 0;
        RasApi::RasEnumConnectionsW(nullptr, &size, &count);
        FConnections[0].dwSize = sizeof(RasApi::TRasConnW);
        size = static_cast<DWORD>(FConnections.size() * sizeof(RasApi::TRasConnW));
        RasApi::RasEnumConnectionsW(FConnections.data(), &size, &count);
    }

    DWORD Status(HRASCONN AHandle)
    {
        FStatus.dwSize = sizeof(FStatus);
        return RasApi::RasGetConnectStatusW(AHandle, &FStatus);
    }

    std::vector<std::wstring> FQueryNames;
    std::vector<RasApi::TRasEntryNameW> FEntryNames;
    std::vector<RasApi::TRasConnW> FConnections;
    std::vector<HRASCONN> FMenuMatches, FPollHandles;
    RasApi::RASENTRYW FEntry{};
    RasApi::RASCONNSTATUSW FStatus{};
};

// ---- measuring ----

// One way of doing an operation, or one unit of it (an entry) when measured
// per unit. After runs untimed after each timed run, to drop what Run built.
struct TArm {
    std::string Name;
    std::function<void(size_t)> Run;
    std::function<void()> After;
};

// Rounds over AUnits units; per unit one run of each arm, each unit starting
// one arm later than the one before, so no arm always follows the same one. At
// least MinRuns rounds, then until the budget is spent (or MaxRuns). Returns
// each arm's times in the same order for all arms, so they pair up.
std::vector<std::vector<double>> Measure(const TOptions& AOptions, const std::vector<TArm>& AArms, size_t AUnits = 1)
{
    auto once = [](const TArm& AArm, size_t AUnit) {
        double ms = TimeMs([&] { AArm.Run(AUnit); });
        if (AArm.After) AArm.After();
        return ms;
    };
    // One untimed round: the heap, the caches and the file cache are warm for all.
    for (size_t unit = 0; unit < AUnits; ++unit)
        for (const TArm& arm : AArms) once(arm, unit);
    size_t k = AArms.size();
    std::vector<std::vector<double>> times(k);
    double start = NowMs();
    for (size_t round = 0; round < static_cast<size_t>(AOptions.MaxRuns); ++round) {
        if (round >= static_cast<size_t>(AOptions.MinRuns) && NowMs() - start > AOptions.BudgetMs) break;
        for (size_t unit = 0; unit < AUnits; ++unit)
            for (size_t j = 0; j < k; ++j) {
                size_t arm = (round + unit + j) % k;
                times[arm].push_back(once(AArms[arm], unit));
            }
    }
    return times;
}

// The calls the service logs while AFn runs; the log is on only for this.
std::vector<std::wstring> LoggedCalls(test::TRasScenario& AScenario, const std::wstring& ALog,
                                      const std::function<void()>& AFn)
{
    AScenario.ClearLog();
    SetEnvironmentVariableW(L"RASSIM_LOG", ALog.c_str());
    AFn();
    SetEnvironmentVariableW(L"RASSIM_LOG", nullptr);
    std::vector<std::wstring> calls = AScenario.LogLines();
    AScenario.ClearLog();
    return calls;
}

std::string Narrow(const std::wstring& AText)
{
    return std::string(AText.begin(), AText.end()); // the names here are ASCII
}

// Every way must make exactly the service calls the program makes, or comparing them means nothing.
size_t SameCalls(int AN, test::TRasScenario& AScenario, const std::wstring& ALog, const std::vector<TArm>& AArms,
                 size_t AUnits)
{
    auto all = [&](const TArm& AArm) {
        return LoggedCalls(AScenario, ALog, [&] {
            for (size_t unit = 0; unit < AUnits; ++unit) AArm.Run(unit);
            if (AArm.After) AArm.After();
        });
    };
    std::vector<std::wstring> program = all(AArms[0]);
    for (size_t a = 1; a < AArms.size(); ++a) {
        std::vector<std::wstring> other = all(AArms[a]);
        if (other == program) continue;
        size_t i = 0;
        while (i < program.size() && i < other.size() && program[i] == other[i]) ++i;
        std::fprintf(stderr, "N=%d: \"%s\" differs from \"%s\" at service call %zu\n  %s\n  %s\n", AN,
                     AArms[a].Name.c_str(), AArms[0].Name.c_str(), i + 1,
                     i < other.size() ? Narrow(other[i]).c_str() : "(none)",
                     i < program.size() ? Narrow(program[i]).c_str() : "(none)");
        std::exit(1);
    }
    return program.size();
}

void Require(bool ACondition, const char* AWhat)
{
    if (ACondition) return;
    std::fprintf(stderr, "unexpected program state: %s\n", AWhat);
    std::exit(1);
}

// ---- printing ----

struct TComparison {
    double A = 0, B = 0, Ratio = 0, Paired = 0, PairedLow = 0, PairedHigh = 0, DifferenceUs = 0;
};

// Arm A against arm B over the same rounds.
TComparison Compare(const std::vector<double>& AA, const std::vector<double>& AB)
{
    std::vector<double> ratios, differences;
    for (size_t i = 0; i < AA.size() && i < AB.size(); ++i) {
        ratios.push_back(AA[i] / AB[i]);
        differences.push_back((AA[i] - AB[i]) * 1000);
    }
    TComparison c;
    c.A = Median(AA);
    c.B = Median(AB);
    c.Ratio = c.A / c.B;
    c.Paired = Median(ratios);
    std::tie(c.PairedLow, c.PairedHigh) = MedianInterval(ratios);
    c.DifferenceUs = Median(differences);
    return c;
}

void PrintTableHeader()
{
    std::printf("%5s  %-13s %4s %6s %11s %11s %6s %21s %13s %6s\n", "N", "operation", "runs", "calls", "program ms",
                "bare ms", "ratio", "paired (95% CI)", "prog-bare us", "A/A");
}

void PrintTableRow(int AN, const char* AOperation, size_t ACalls, const std::vector<std::vector<double>>& ATimes)
{
    TComparison c = Compare(ATimes[0], ATimes[1]);
    char calls[16] = "-", control[16] = "-";
    if (ACalls) std::snprintf(calls, sizeof(calls), "%zu", ACalls);
    if (ATimes.size() > 2) std::snprintf(control, sizeof(control), "%.3f", Compare(ATimes[2], ATimes[1]).Ratio);
    std::printf("%5d  %-13s %4zu %6s %11.3f %11.3f %6.3f  %5.3f (%5.3f..%5.3f) %13.1f %6s\n", AN, AOperation,
                ATimes[0].size(), calls, c.A, c.B, c.Ratio, c.Paired, c.PairedLow, c.PairedHigh, c.DifferenceUs,
                control);
    std::fflush(stdout);
}

void PrintBreakdownHeader(const char* ATitle)
{
    std::printf("  %s\n  %-46s %10s %10s %6s %21s %13s\n", ATitle, "way", "ms", "bare ms", "ratio", "paired (95% CI)",
                "minus bare us");
}

// Every arm but ABare against ABare.
void PrintBreakdown(const std::vector<TArm>& AArms, const std::vector<std::vector<double>>& ATimes, size_t ABare)
{
    for (size_t i = 0; i < AArms.size(); ++i) {
        if (i == ABare) continue;
        TComparison c = Compare(ATimes[i], ATimes[ABare]);
        std::printf("  %-46s %10.4f %10.4f %6.3f  %5.3f (%5.3f..%5.3f) %13.2f\n", AArms[i].Name.c_str(), c.A, c.B,
                    c.Ratio, c.Paired, c.PairedLow, c.PairedHigh, c.DifferenceUs);
    }
    std::fflush(stdout);
}

// A piece of the program's own work, timed without the service: median of many passes.
void PrintPiece(const char* AName, const TOptions& AOptions, const std::function<void()>& APass)
{
    APass();
    std::vector<double> times;
    double start = NowMs();
    while (times.size() < 31 || (times.size() < 1001 && NowMs() - start < std::min(2000.0, AOptions.BudgetMs)))
        times.push_back(TimeMs(APass) * 1000);
    std::printf("  %-68s %10.2f us\n", AName, Median(times));
}

// ---- menu calls ----

// Counts the menu calls the program makes, by standing in for them in this
// executable's import table (the program's code is linked into it).
class TMenuCallCounter {
public:
    TMenuCallCounter()
    {
        Patch("InsertMenuItemW", reinterpret_cast<void*>(&CountedInsertMenuItemW), FInsert);
        Patch("RemoveMenu", reinterpret_cast<void*>(&CountedRemoveMenu), FRemove);
        Patch("SetMenuInfo", reinterpret_cast<void*>(&CountedSetMenuInfo), FSetInfo);
        Patch("SetMenuItemInfoW", reinterpret_cast<void*>(&CountedSetMenuItemInfoW), FSetItemInfo);
        Require(FInsert && FRemove && FSetInfo, "the menu calls are imported by the executable");
    }
    static long Calls() { return FCalls; }
    static void Reset() { FCalls = 0; }

private:
    static void Patch(const char* AName, void* AReplacement, void*& AOriginal)
    {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
            if (_stricmp(reinterpret_cast<char*>(base + imp->Name), "user32.dll") != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<char*>(byName->Name), AName) != 0) continue;
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old);
                AOriginal = reinterpret_cast<void*>(slots->u1.Function);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(AReplacement);
                VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
            }
        }
    }

    template <typename TFn, typename... TArgs>
    static BOOL Forward(void* AOriginal, TArgs... AArgs)
    {
        ++FCalls;
        return reinterpret_cast<TFn>(AOriginal)(AArgs...);
    }
    static BOOL WINAPI CountedInsertMenuItemW(HMENU A, UINT B, BOOL C, LPCMENUITEMINFOW D)
    {
        return Forward<decltype(&InsertMenuItemW)>(FInsert, A, B, C, D);
    }
    static BOOL WINAPI CountedRemoveMenu(HMENU A, UINT B, UINT C)
    {
        return Forward<decltype(&RemoveMenu)>(FRemove, A, B, C);
    }
    static BOOL WINAPI CountedSetMenuInfo(HMENU A, LPCMENUINFO B)
    {
        return Forward<decltype(&SetMenuInfo)>(FSetInfo, A, B);
    }
    static BOOL WINAPI CountedSetMenuItemInfoW(HMENU A, UINT B, BOOL C, LPCMENUITEMINFOW D)
    {
        return Forward<decltype(&SetMenuItemInfoW)>(FSetItemInfo, A, B, C, D);
    }

    static inline void *FInsert = nullptr, *FRemove = nullptr, *FSetInfo = nullptr, *FSetItemInfo = nullptr;
    static inline long FCalls = 0;
};

// The menu as the program holds it, built afresh with the bare calls: every
// item removed, the visible ones inserted, the background set.
void BareMenuBuild(HMENU AMenu, const fw::TPopupMenu& APopup)
{
    while (GetMenuItemCount(AMenu) > 0) RemoveMenu(AMenu, 0, MF_BYPOSITION);
    UINT position = 0;
    std::wstring text;
    for (int i = 0; i < APopup.Count(); ++i) {
        fw::TMenuItem* item = APopup.Items(i);
        if (!item->Visible()) continue;
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_DATA | MIIM_STRING;
        info.fType = MFT_STRING;
        info.wID = item->Command();
        text = item->MenuText();
        info.dwTypeData = text.data();
        InsertMenuItemW(AMenu, position++, TRUE, &info);
    }
    MENUINFO menuInfo{};
    menuInfo.cbSize = sizeof(menuInfo);
    menuInfo.fMask = MIM_BACKGROUND;
    SetMenuInfo(AMenu, &menuInfo);
}

// A connect result landing while the menu is open in its busy state: the
// entries come back. Timed with its menu calls while the menu is open and at
// the next opening, next to one bare build of the whole menu from the same
// busy menu. One build per change set is a ratio near 1 and as many calls.
void MeasureResultLanding(const TOptions& AOptions, int AN, TfrmMain& AForm)
{
    static TMenuCallCounter counter;
    fw::TPopupMenu& popup = *AForm.popupMain;
    TVPNInfo info = AForm.VPNManager()->Items(0);
    AForm.menuEnableNotification->SetChecked(false); // the balloon is not what is measured here
    auto busy = [&] {
        for (fw::TMenuItem* item : AForm.VPNItems()) item->SetVisible(false);
        AForm.menuConnecting->SetVisible(true);
        Escape(popup.Handle());
    };
    // The check marks come from the service; they are not what is measured here.
    fw::TNotifyEvent onPopup = std::exchange(popup.OnPopup, nullptr);
    fw::TMenuHandle bareMenu(CreatePopupMenu());

    std::vector<double> openMs, nextMs, bareMs;
    long openCalls = 0, nextCalls = 0, bareCalls = 0;
    int rounds = std::max(AOptions.MinRuns, 9);
    for (int round = 0; round < rounds; ++round) {
        busy();
        BareMenuBuild(bareMenu.Get(), popup); // the bare menu starts where the program's does
        test::TRunSoon land(
            [&] {
                TMenuCallCounter::Reset();
                openMs.push_back(TimeMs([&] { AForm.OnConnectResult(info, false); }));
                openCalls = TMenuCallCounter::Calls();
                EndMenu();
                return true;
            },
            1);
        SetForegroundWindow(fw::Application->Handle());
        popup.Popup(0, 0);
        TMenuCallCounter::Reset();
        nextMs.push_back(TimeMs([&] { Escape(popup.Handle()); }));
        nextCalls = TMenuCallCounter::Calls();
        TMenuCallCounter::Reset();
        bareMs.push_back(TimeMs([&] { BareMenuBuild(bareMenu.Get(), popup); }));
        bareCalls = TMenuCallCounter::Calls();
    }
    popup.OnPopup = std::move(onPopup);
    double program = Median(openMs) + Median(nextMs);
    std::printf(
        "%5d  %-13s %4d %6ld %11.3f %11.3f %6.3f   (while open: %.3f ms, %ld menu calls; next opening: %.3f ms, "
        "%ld menu calls; bare build: %ld menu calls)\n",
        AN, "result lands", rounds, openCalls + nextCalls, program, Median(bareMs), program / Median(bareMs),
        Median(openMs), openCalls, Median(nextMs), nextCalls, bareCalls);
    std::fflush(stdout);
}

// ---- the benchmark ----

struct TContext {
    const TOptions& Options;
    test::TRasScenario& Scenario;
    std::wstring Log;
    int N;
    TfrmMain& Form;
    TBareCalls& Bare;
};

// The program's way first, then the bare calls, then (with the control) the bare calls again.
std::vector<TArm> WithBare(std::vector<TArm> AArms, const std::function<void(size_t)>& ABare, bool AControl)
{
    AArms.push_back({"bare calls", ABare, {}});
    if (AControl) AArms.push_back({"bare calls again (A/A control)", ABare, {}});
    return AArms;
}

void MeasureRow(TContext& AContext, const char* AOperation, const std::vector<TArm>& AArms)
{
    size_t calls = AContext.Options.Check ? SameCalls(AContext.N, AContext.Scenario, AContext.Log, AArms, 1) : 0;
    PrintTableRow(AContext.N, AOperation, calls, Measure(AContext.Options, AArms));
}

// Where the program's own time goes at one size: the same operations taken
// apart into ways that differ from the bare calls by one piece each.
void Breakdown(TContext& AContext, std::unique_ptr<TVPNManager>& AManager, const std::function<void()>& ADropList)
{
    const TOptions& options = AContext.Options;
    TfrmMain& form = AContext.Form;
    TBareCalls& bare = AContext.Bare;
    const TVPNManager& manager = *form.VPNManager();
    std::printf("\nWhere the program's own time goes, %d entries\n", AContext.N);

    if (Wanted(options, "list")) {
        std::vector<TArm> arms{
            {"TVPNManager()", [&](size_t) { AManager = std::make_unique<TVPNManager>(); }, ADropList},
            {"RasApi::EnumEntries, then the bare queries", [&](size_t) { bare.VPNListWithHelper(); }, {}},
            {"bare calls", [&](size_t) { bare.VPNList(); }, {}},
        };
        if (options.Check) SameCalls(AContext.N, AContext.Scenario, AContext.Log, arms, 1);
        std::vector<std::vector<double>> times = Measure(options, arms);
        PrintBreakdownHeader("VPN list, whole builds:");
        PrintBreakdown(arms, times, arms.size() - 1);

        // The list's steps between the calls, on the records the service lists.
        std::vector<RasApi::TRasEntryNameW> records = RasApi::EnumEntries();
        PrintPiece("the list's own steps per build and free (same steps, no service)", options, [&] {
            TVPNManager* owner = AManager.get();
            std::vector<TVPNInfo> list;
            for (const RasApi::TRasEntryNameW& record : records) {
                std::wstring name = RasApi::FieldText(record.szEntryName);
                std::wstring query(fw::Trim(name));
                RasApi::RASENTRYW entry{};
                entry.dwSize = sizeof(entry);
                Escape(&entry);
                Escape(query.data());
                list.push_back(TVPNInfo::Create(owner, name));
            }
        });
    }

    if (Wanted(options, "menu")) {
        std::vector<TVPNInfo> infos;
        for (fw::TMenuItem* item : form.VPNItems()) infos.push_back(manager.Items(static_cast<int>(item->Tag)));
        volatile int sink = 0;
        std::vector<TArm> arms{
            {"TVPNInfo::IsConnected", [&](size_t i) { sink = sink + infos[i].IsConnected(); }, {}},
            {"RasApi::EnumConnections, then the bare status", [&](size_t i) { bare.MenuEntryWithHelper(i); }, {}},
            {"bare calls", [&](size_t i) { bare.MenuEntry(i); }, {}},
        };
        if (options.Check) SameCalls(AContext.N, AContext.Scenario, AContext.Log, arms, infos.size());
        std::vector<std::vector<double>> times = Measure(options, arms, infos.size());
        PrintBreakdownHeader("Menu opening, per entry (entries of all rounds, in pairs):");
        PrintBreakdown(arms, times, 2);

        PrintPiece("the menu's entry copies per opening (Items(i), no service)", options, [&] {
            for (fw::TMenuItem* item : form.VPNItems())
                sink = sink + static_cast<int>(manager.Items(static_cast<int>(item->Tag)).FName.size());
        });
        PrintPiece("the menu's unchanged check marks per opening (SetChecked)", options, [&] {
            for (fw::TMenuItem* item : form.VPNItems()) item->SetChecked(item->Checked());
        });
        // Not part of popupMainPopup: Popup rebuilds the HMENU next when a check mark changed.
        fw::TMenuItem* first = form.VPNItems().front();
        PrintPiece("the HMENU rebuilt after a check mark changed (Handle())", options, [&] {
            first->SetChecked(!first->Checked());
            first->SetChecked(!first->Checked());
            Escape(form.popupMain->Handle());
        });
        std::vector<double> now, once;
        for (int i = 0; i < 7; ++i) {
            now.push_back(TimeMs([&] { bare.MenuOpening(); }));
            once.push_back(TimeMs([&] { bare.MenuOpeningEnumeratingOnce(); }));
        }
        std::printf("  bare calls of one opening: %.3f ms as made now, %.3f ms enumerating once for all items\n",
                    Median(now), Median(once));
    }

    if (Wanted(options, "poll")) {
        volatile size_t sink = 0;
        std::vector<TArm> arms{
            {"timerCheckConnectedTimer",
             [&](size_t) { form.timerCheckConnectedTimer(form.timerCheckConnected.get()); },
             {}},
            {"TVPNManager::GetConnectedName",
             [&](size_t) { sink = sink + TVPNManager::GetConnectedName().size(); },
             {}},
            {"bare calls", [&](size_t) { bare.Poll(); }, {}},
        };
        if (options.Check) SameCalls(AContext.N, AContext.Scenario, AContext.Log, arms, 1);
        std::vector<std::vector<double>> times = Measure(options, arms);
        PrintBreakdownHeader("Poll:");
        PrintBreakdown(arms, times, 2);
    }
}

void Run(const TOptions& AOptions)
{
    test::TRasScenario scenario;
    // The service's call log stays off while timing: its file I/O belongs to neither side.
    wchar_t log[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"RASSIM_LOG", log, MAX_PATH + 1);
    SetEnvironmentVariableW(L"RASSIM_LOG", nullptr);
    test::TFakeTray tray;

    std::printf("The program against the bare service calls it makes, medians of interleaved runs\n"
                "(QueryPerformanceCounter). ratio = median program / median bare; paired = median of\n"
                "program/bare within a round, with its 95%% interval; prog-bare = median of the per-round\n"
                "differences; A/A = the bare calls against themselves, measured the same way (the noise floor).\n\n");
    PrintTableHeader();
    for (int n : AOptions.Sizes) {
        bool breakdown = AOptions.Breakdown == TOptions::BreakdownAll ||
                         (AOptions.Breakdown == TOptions::BreakdownLargest && n == AOptions.Sizes.back());
        TPhonebook book = MakePhonebook(n);
        scenario.Write(book.Lines);

        auto form = std::make_unique<TfrmMain>(*fw::Application);
        double createMs = TimeMs([&] { form->DoCreate(); });
        test::PumpPending();
        Require(form->VPNManager()->Count() == n, "one list entry per VPN entry");
        // The first poll corrects the start-up status; later ones change nothing.
        form->timerCheckConnectedTimer(form->timerCheckConnected.get());
        Require(form->trayMain->IconIndex() == 1 && form->trayMain->Hint() == book.ConnectedName,
                "the poll finds the connected entry");
        form->popupMainPopup(form->popupMain.get());
        int checked = 0;
        for (fw::TMenuItem* item : form->VPNItems()) checked += item->Checked();
        Require(checked == 1, "one check mark");

        TBareCalls bare(*form->VPNManager(), form->VPNItems());
        TContext context{AOptions, scenario, log, n, *form, bare};
        std::unique_ptr<TVPNManager> manager;
        auto dropList = [&] {
            Require(manager && manager->Count() == n, "the list holds every VPN entry");
            manager.reset();
        };

        if (Wanted(AOptions, "list"))
            MeasureRow(context, "VPN list",
                       WithBare(
                           {{"TVPNManager()", [&](size_t) { manager = std::make_unique<TVPNManager>(); }, dropList}},
                           [&](size_t) { bare.VPNList(); }, AOptions.Control));
        if (Wanted(AOptions, "menu"))
            MeasureRow(context, "menu opening",
                       WithBare(
                           {{"popupMainPopup", [&](size_t) { form->popupMainPopup(form->popupMain.get()); }, {}}},
                           [&](size_t) { bare.MenuOpening(); }, AOptions.Control));
        if (Wanted(AOptions, "poll"))
            MeasureRow(context, "poll",
                       WithBare(
                           {{"timerCheckConnectedTimer",
                             [&](size_t) { form->timerCheckConnectedTimer(form->timerCheckConnected.get()); },
                             {}}},
                           [&](size_t) { bare.Poll(); }, AOptions.Control));

        if (Wanted(AOptions, "result")) MeasureResultLanding(AOptions, n, *form);

        std::vector<double> call;
        for (int i = 0; i < 201; ++i)
            call.push_back(TimeMs([] {
                DWORD size = 0, count = 0;
                RasApi::RasEnumConnectionsW(nullptr, &size, &count);
            }));
        std::printf("%5s  (one service call: p50 %.3f ms, p90 %.3f ms; form creation, one run: %.1f ms)\n", "",
                    Median(call), Quantile(call, 0.9), createMs);
        std::fflush(stdout);

        if (breakdown) Breakdown(context, manager, dropList);

        form->DoDestroy();
        form.reset();
        test::PumpPending();
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    TOptions options = ParseOptions(argc, argv);
    test::InstallProgramServices();
    fw::InitializeFrameworkUnit();
    fw::Application->Initialize();
    fw::Application->MainFormOnTaskBar = false; // as the program sets it
    uIniManager::InitializeUnit();
    Run(options);
    uIniManager::FinalizeUnit();
    fw::FinalizeFrameworkUnit();
    return 0;
}
