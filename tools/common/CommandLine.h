#pragma once
// The command line of the test tools: a table of commands with their help,
// argument checks, and failures that end the tool with exit code 1 (2 for a
// wrong command line) and a message on stderr. Results go to stdout as UTF-8,
// one per line.
#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tools {

constexpr int KExitFailure = 1;
constexpr int KExitUsage = 2;

struct TFailure {
    int ExitCode;
    std::wstring Message;
};

[[noreturn]] inline void Fail(std::wstring AMessage, int AExitCode = KExitFailure)
{
    throw TFailure{AExitCode, std::move(AMessage)};
}

[[noreturn]] inline void FailWithError(const std::wstring& AWhat)
{
    DWORD error = GetLastError();
    Fail(AWhat + L" failed, error " + std::to_wstring(error));
}

inline std::string ToUtf8(std::wstring_view AText)
{
    if (AText.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Raw bytes, not the console's code page: callers read this from files and pipes.
inline void WriteLine(DWORD AStdHandle, std::wstring_view ALine)
{
    std::string bytes = ToUtf8(ALine);
    bytes += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(AStdHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline void Print(std::wstring_view ALine)
{
    WriteLine(STD_OUTPUT_HANDLE, ALine);
}

// A command's arguments, and the tool they were given to for its messages.
class TArgs {
public:
    TArgs(std::wstring ATool, std::vector<std::wstring> AItems) : FTool(std::move(ATool)), FItems(std::move(AItems)) {}

    size_t size() const noexcept { return FItems.size(); }
    bool empty() const noexcept { return FItems.empty(); }
    const std::wstring& operator[](size_t AIndex) const { return FItems[AIndex]; }
    const std::wstring& Tool() const noexcept { return FTool; }

    // All but the first.
    TArgs Rest() const { return {FTool, std::vector<std::wstring>(FItems.begin() + 1, FItems.end())}; }

    void Need(size_t AMin, size_t AMax) const
    {
        if (size() < AMin || size() > AMax) Fail(L"wrong number of arguments (see " + FTool + L" help)", KExitUsage);
    }

private:
    std::wstring FTool;
    std::vector<std::wstring> FItems;
};

struct TCommand {
    const wchar_t* Name;
    const wchar_t* Args; // L"" for none
    // What it does, lines split at '\n'; nullptr where the next command's text
    // tells for both.
    const wchar_t* Does;
    // nullptr for a form that is listed in the help but not called by name.
    void (*Run)(const TArgs&);
};

struct TTool {
    const wchar_t* Name;
    std::span<const TCommand> Commands;
    // Lines of the help before and after the commands.
    std::span<const wchar_t* const> Head;
    std::span<const wchar_t* const> Foot;
    // Before each command's name in the help.
    const wchar_t* CommandPrefix = L"  ";
    // Given every argument when the first names no command; nullptr: that is
    // an unknown command.
    void (*Otherwise)(const TArgs&) = nullptr;
    // No arguments at all: the help on stdout (true), or a usage error.
    bool HelpWhenEmpty = false;
};

inline void PrintHelp(const TTool& ATool)
{
    for (const wchar_t* line : ATool.Head) Print(line);
    for (const TCommand& command : ATool.Commands) {
        Print(std::wstring(ATool.CommandPrefix) + command.Name + (*command.Args ? L" " : L"") + command.Args);
        if (!command.Does) continue;
        std::wstring_view does = command.Does;
        for (size_t start = 0;;) {
            size_t end = does.find(L'\n', start);
            Print(std::wstring(L"      ") + std::wstring(does.substr(start, end - start)));
            if (end == std::wstring_view::npos) break;
            start = end + 1;
        }
    }
    for (const wchar_t* line : ATool.Foot) Print(line);
}

// "help" prints the help; anything else runs the command it names.
inline int RunTool(const TTool& ATool, int AArgc, wchar_t** AArgv)
{
    const std::wstring tool = ATool.Name;
    try {
        TArgs all(tool, std::vector<std::wstring>(AArgv + 1, AArgv + AArgc));
        if (all.empty()) {
            if (!ATool.HelpWhenEmpty)
                Fail(L"usage: " + tool + L" <command> [arguments]; " + tool + L" help lists them", KExitUsage);
            PrintHelp(ATool);
            return KExitUsage;
        }
        if (all[0] == L"help") {
            PrintHelp(ATool);
            return 0;
        }
        for (const TCommand& command : ATool.Commands) {
            if (!command.Run || all[0] != command.Name) continue;
            command.Run(all.Rest());
            return 0;
        }
        if (!ATool.Otherwise) Fail(L"unknown command: " + all[0] + L"; " + tool + L" help lists them", KExitUsage);
        ATool.Otherwise(all);
        return 0;
    } catch (const TFailure& failure) {
        WriteLine(STD_ERROR_HANDLE, tool + L": " + failure.Message);
        return failure.ExitCode;
    }
}

} // namespace tools
