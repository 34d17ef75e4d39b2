// Simulated remote-access service (rasapi32.dll) for tests and the demo. Never shipped.
//
// All state lives in a scenario file that is re-read on every call, so a test can change
// the world while the program runs; what the sim changes itself (dial, hang-up) is written
// back so that later calls and other processes see it.
//
// Environment
//   RASSIM_SCENARIO  scenario file. Unset or missing: empty phonebook, no connections.
//   RASSIM_LOG       call log, appended to. Unset: no log.
//   A value starting with '/' is a Unix path, opened as Z:<path> with '/' -> '\'.
//
// Scenario file: UTF-8 (BOM allowed), LF or CRLF. Blank lines and lines starting with '#'
// are ignored. Fields are separated by exactly one TAB; the name is always the last field
// and may hold anything but TAB and line breaks. Keywords are case-sensitive. A line that
// fits none of these forms is ignored (and kept as it was when the file is rewritten).
//   entry <type> <name>               type: vpn=2 phone=1 direct=3 broadband=4, or decimal.
//                                     File order is phonebook order.
//   conn  <id> <state> <name>         active connection. state: connected=0x2000,
//                                     connecting=2, or decimal. File order is enumeration order.
//   dead  <id> <name>                 handle of a failed dial not released yet (the sim writes these).
//   linger <ms>                       a hung-up connection takes <ms> (capped at 600000) to close,
//                                     as a real line does; 0 or no line: it is gone at once.
//   closing <id> <deadline> <name>    a hung-up connection still closing until <deadline>, in ms
//                                     since 1601 on the system clock (FILETIME / 10000). Listed
//                                     in enumeration order like conn lines, with state
//                                     disconnected=0x2001; dialling <name> meanwhile fails with
//                                     602. Once the deadline has passed the line is gone for every
//                                     call and its next rewrite drops it.
//   dial  <result> <delay_ms> <name>  dialling <name> takes delay_ms (capped at 600000), then
//                                     connects (result 0) or fails with <result>. No line: 0, 0.
//   dial  <result> hold <name>        the dial lasts until the first dial line for <name> no
//                                     longer says hold (600000 ms at most), then ends with
//                                     <result>: a test lets it go once it has seen what it
//                                     waits for, however long that took.
//   fail  <Function> <code>           <Function> returns <code> on every call.
//   fail  <Function> <code> sized     ... only on calls that pass a buffer or record: enumerations
//                                     with a buffer, RasGetEntryPropertiesW with a RASENTRYW, the
//                                     other calls with a non-null record. RasHangUpW passes none.
//   claim <Enumeration> <count> [<size>]
//                                     the first call (no buffer) of RasEnumEntriesW or
//                                     RasEnumConnectionsW answers 603 with <count> and <size> bytes,
//                                     whatever the list holds. No size: count x record size, or
//                                     0xFFFFFFFF if that does not fit. Later calls see the real list.
//   grow  <Enumeration> once|always   the list grows by one record between the calls. once: the
//                                     first call counts all but the last record, so a second call
//                                     sized for that answers 603 with the full count. always: every
//                                     second call, however large its buffer, answers 603 with room
//                                     for one record more than it was given.
// A forced failure returns before any argument is validated or any output written; code 0
// lines are ignored. Ids are decimal DWORDs; the first matching line wins. Names match when
// equal after trimming characters <= U+0020 from both ends (case-sensitive).
//
// A successful dial appends "conn <id> connected <name>", a failed one "dead <id> <name>"
// (id = highest id in use + 1; closing lines count as in use); RasHangUpW deletes the line,
// or, with a linger, turns a conn line into "closing <id> <now + linger> <name>". Hanging up
// a closing line answers 0 and changes nothing. The file is replaced atomically
// (temp file + rename), every other line kept byte for byte. Without RASSIM_SCENARIO there is
// nowhere to record a dial, so RasDialW returns 623, as it does for a name holding TAB or a
// line break. A scenario that exists but cannot be read makes the call return the read error
// rather than act on an empty world (and rewrite it).
//
// Handles are 0x10000 + id, stable across calls and processes. A connection with id 0 is
// enumerated with a NULL handle and cannot be addressed. RasGetConnectStatusW knows only
// conn and closing lines: a dead handle gets 6. *conn is written only when a handle is issued.
// RasGetEntryDialParamsW fills user "rassim-user", domain "RASSIMDOM" and password
// "rassim-password" (distinctive, so a test can check it never leaks) and reports a saved
// password. Phonebook paths, device info and RasDialW's notifier are ignored: dialling is
// always synchronous.
//
// Log: one UTF-8 line per call, LF-terminated, appended when the call returns:
//   <Function> TAB <detail fields> TAB <result in decimal>
//   RasEnumEntriesW, RasEnumConnectionsW  detail "first" (no buffer) or "second" (buffer passed)
//   RasGetEntryPropertiesW                "size" (no record) or "record", TAB, entry name
//   RasGetEntryDialParamsW, RasDialW      entry name from the record (empty if it is unusable)
//   RasHangUpW, RasGetConnectStatusW      "#<id>", or "0x<hex>" for a value that is no sim handle
// RasDialW also writes "RasDialW-begin TAB <name>" just before its delay or hold. Names appear as
// passed (untrimmed), control characters written as \xHH so a line stays one line. Lines are
// appended in the order the calls return, so within a thread of the caller they are in call order.
//
// Every read-modify-write of the scenario and every log append holds the named mutex
// Local\RasSimLock, briefly; the dial delay runs without it.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/Handles.h"

#ifndef RASSIM_VARIANT
#error "RASSIM_VARIANT must name the copy of the DLL (e.g. L\"system32\")"
#endif

namespace {

// Record layouts, 4-byte packing, byte offsets. Declared here on purpose rather than taken
// from a system header, so a layout mistake in the program fails against them.
constexpr std::size_t kNameUnits = 257; // entry names: 256 units + NUL

namespace entryname {
constexpr DWORD kSize = 520;
constexpr std::size_t kName = 4;
} // namespace entryname

namespace rasentry {
constexpr DWORD kSize = 4048;
constexpr std::size_t kType = 3496;
} // namespace rasentry

namespace dialparams {
constexpr DWORD kSize = 2108;
constexpr std::size_t kEntryName = 4;
constexpr std::size_t kPhone = 518, kPhoneUnits = 129;
constexpr std::size_t kCallback = 776, kCallbackUnits = 129;
constexpr std::size_t kUser = 1034, kUserUnits = 257;
constexpr std::size_t kPassword = 1548, kPasswordUnits = 257;
constexpr std::size_t kDomain = 2062, kDomainUnits = 16;
constexpr std::size_t kSubEntry = 2096;
constexpr std::size_t kCallbackId = 2100;
static_assert(kPhone == kEntryName + 2 * kNameUnits && kCallback == kPhone + 2 * kPhoneUnits &&
              kUser == kCallback + 2 * kCallbackUnits && kPassword == kUser + 2 * kUserUnits &&
              kDomain == kPassword + 2 * kPasswordUnits && kSubEntry >= kDomain + 2 * kDomainUnits &&
              kCallbackId + 8 == kSize);
} // namespace dialparams

namespace rasconn {
constexpr DWORD kSize = 1388;
constexpr std::size_t kHandle = 4;
constexpr std::size_t kName = 12;
} // namespace rasconn

namespace connstatus {
constexpr DWORD kSize = 304;
constexpr std::size_t kState = 4;
constexpr std::size_t kError = 8;
} // namespace connstatus

constexpr DWORD kTypePhone = 1, kTypeVpn = 2, kTypeDirect = 3, kTypeBroadband = 4;
constexpr DWORD kStateConnecting = 2, kStateConnected = 0x2000, kStateDisconnected = 0x2001;

constexpr DWORD kOk = 0;
constexpr DWORD kInvalidHandle = 6;
constexpr DWORD kOutOfMemory = 8;
constexpr DWORD kInvalidParameter = 87;
constexpr DWORD kBufferTooSmall = 603;
constexpr DWORD kPortOpen = 602;
constexpr DWORD kNoSuchEntry = 623;
constexpr DWORD kInvalidSize = 632;

constexpr std::uintptr_t kHandleBase = 0x10000;
constexpr DWORD kMaxDelayMs = 600000; // a typo in a scenario must not hang a test run for days
constexpr DWORD kHoldPollMs = 50;     // how often a held dial reads the scenario again

// ---- lock ----

// Cross-process lock over the scenario and the log. An abandoned mutex (a holder died) still
// counts as acquired: the files are only ever replaced whole, so there is nothing to repair.
class Lock {
public:
    Lock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\RasSimLock"))
    {
        if (mutex_) {
            const DWORD w = WaitForSingleObject(mutex_.Get(), INFINITE);
            held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock()
    {
        if (held_) ReleaseMutex(mutex_.Get());
    }

private:
    fw::TKernelHandle mutex_;
    bool held_ = false;
};

// ---- text ----

std::wstring widen(std::string_view s)
{
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view s)
{
    if (s.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring_view trimmed(std::wstring_view s)
{
    while (!s.empty() && s.front() <= L' ') s.remove_prefix(1);
    while (!s.empty() && s.back() <= L' ') s.remove_suffix(1);
    return s;
}

bool sameName(std::wstring_view a, std::wstring_view b)
{
    return trimmed(a) == trimmed(b);
}

std::optional<DWORD> parseDword(std::string_view s)
{
    if (s.empty() || s.size() > 10) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > MAXDWORD) return std::nullopt;
    return static_cast<DWORD>(v);
}

std::optional<std::uint64_t> parseU64(std::string_view s)
{
    if (s.empty() || s.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<unsigned>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return std::nullopt;
        v = v * 10 + digit;
    }
    return v;
}

// Milliseconds since 1601 (FILETIME / 10000): system time, which every process reads alike,
// so a deadline written into the scenario by one process means the same to all others.
std::uint64_t nowMs()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime) / 10000;
}

std::wstring loggable(std::wstring_view name)
{
    std::wstring out;
    for (wchar_t c : name) {
        if (c < 0x20 || c == 0x7f) {
            static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
            out += L"\\x";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

// ---- caller records (accessed bytewise: callers' buffers need not be aligned) ----

BYTE* at(void* rec, std::size_t off)
{
    return static_cast<BYTE*>(rec) + off;
}

DWORD getDword(const void* rec, std::size_t off)
{
    DWORD v;
    std::memcpy(&v, static_cast<const BYTE*>(rec) + off, sizeof v);
    return v;
}

void putDword(void* rec, std::size_t off, DWORD v)
{
    std::memcpy(at(rec, off), &v, sizeof v);
}

void putHandle(void* rec, std::size_t off, HANDLE h)
{
    std::memcpy(at(rec, off), &h, sizeof h);
}

// Stops at the array's end even if the caller left no NUL in it.
std::wstring getName(const void* rec, std::size_t off, std::size_t units)
{
    std::wstring out;
    for (std::size_t i = 0; i < units; ++i) {
        wchar_t c;
        std::memcpy(&c, static_cast<const BYTE*>(rec) + off + 2 * i, sizeof c);
        if (c == L'\0') break;
        out += c;
    }
    return out;
}

void putName(void* rec, std::size_t off, std::size_t units, std::wstring_view s)
{
    const std::size_t n = std::min(s.size(), units - 1);
    std::memset(at(rec, off), 0, 2 * units);
    std::memcpy(at(rec, off), s.data(), 2 * n);
}

// ---- files ----

std::wstring pathFromEnv(const wchar_t* var)
{
    const DWORD need = GetEnvironmentVariableW(var, nullptr, 0);
    if (need == 0) return {};
    std::wstring s(need, L'\0');
    const DWORD got = GetEnvironmentVariableW(var, s.data(), need);
    if (got == 0 || got >= need) return {};
    s.resize(got);
    if (s.front() == L'/') {
        std::replace(s.begin(), s.end(), L'/', L'\\');
        s.insert(0, L"Z:");
    }
    return s;
}

// Missing file reads as empty; any other failure is returned so that a rewrite can never
// replace a file it could not read.
DWORD readFile(const std::wstring& path, std::string& out)
{
    out.clear();
    fw::TFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? kOk : e;
    }
    char buf[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f.Get(), buf, sizeof buf, &got, nullptr)) return GetLastError();
        if (got == 0) return kOk;
        out.append(buf, got);
    }
}

DWORD replaceFile(const std::wstring& path, std::string_view bytes)
{
    const std::wstring temp = path + L".rassim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId());
    {
        fw::TFileHandle f(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) return GetLastError();
        DWORD written = 0;
        const BOOL ok = WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        if (!ok || written != bytes.size()) {
            const DWORD e = ok ? ERROR_WRITE_FAULT : GetLastError();
            f.Reset();
            DeleteFileW(temp.c_str());
            return e;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD e = GetLastError();
        DeleteFileW(temp.c_str());
        return e;
    }
    return kOk;
}

void appendLog(std::wstring_view line)
{
    const std::wstring path = pathFromEnv(L"RASSIM_LOG");
    if (path.empty()) return;
    std::string bytes = narrow(line);
    bytes += '\n';
    Lock lock;
    fw::TFileHandle f(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;
    SetFilePointer(f.Get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

DWORD logged(std::wstring_view function, std::initializer_list<std::wstring_view> detail, DWORD result)
{
    std::wstring line(function);
    for (std::wstring_view d : detail) {
        line += L'\t';
        line += d;
    }
    line += L'\t';
    line += std::to_wstring(result);
    appendLog(line);
    return result;
}

// ---- scenario ----

struct Entry {
    std::wstring name;
    DWORD type;
};
struct Conn {
    DWORD id;
    DWORD state;
    std::wstring name;
    std::size_t line;
    bool closing = false; // hung up, still listed until its deadline
};
struct Dead {
    DWORD id;
    std::size_t line;
};
struct DialRule {
    DWORD result;
    DWORD delayMs;
    std::wstring name;
    bool held = false;
};
struct FailRule {
    std::string function;
    DWORD code;
    bool sizedOnly;
};
struct ClaimRule {
    std::string function;
    DWORD count;
    std::optional<DWORD> size; // none: count x record size, as far as a DWORD reaches
};
struct GrowRule {
    std::string function;
    bool always;
};

// A line without its terminator.
std::string_view lineBody(std::string_view l)
{
    if (!l.empty() && l.back() == '\n') l.remove_suffix(1);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    return l;
}

// The TAB-separated fields of a line's body; none for a blank line or a comment.
std::vector<std::string_view> fieldsOf(std::string_view body)
{
    std::vector<std::string_view> f;
    if (body.empty() || body.front() == '#') return f;
    for (std::size_t start = 0;;) {
        const std::size_t tab = body.find('\t', start);
        f.push_back(body.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return f;
        start = tab + 1;
    }
}

struct Scenario {
    std::wstring path;
    bool bom = false;
    std::vector<std::string> lines; // raw, each with its own terminator (the last may have none)
    std::uint64_t now = 0;          // nowMs() when read: decides which closing lines are gone

    std::optional<DWORD> lingerMs;
    std::vector<Entry> entries;
    std::vector<Conn> conns;
    std::vector<Dead> deads;
    std::vector<DialRule> dials;
    std::vector<FailRule> fails;
    std::vector<ClaimRule> claims;
    std::vector<GrowRule> grows;

    std::optional<DWORD> forced(std::string_view function, bool sized) const
    {
        for (const FailRule& f : fails)
            if (f.function == function && (sized || !f.sizedOnly)) return f.code;
        return std::nullopt;
    }
    const ClaimRule* claim(std::string_view function) const
    {
        for (const ClaimRule& c : claims)
            if (c.function == function) return &c;
        return nullptr;
    }
    const GrowRule* grow(std::string_view function) const
    {
        for (const GrowRule& g : grows)
            if (g.function == function) return &g;
        return nullptr;
    }
    const Entry* entry(std::wstring_view name) const
    {
        for (const Entry& e : entries)
            if (sameName(e.name, name)) return &e;
        return nullptr;
    }
    const Conn* conn(DWORD id) const
    {
        for (const Conn& c : conns)
            if (c.id == id) return &c;
        return nullptr;
    }
    bool closing(std::wstring_view name) const
    {
        return std::any_of(conns.begin(), conns.end(),
                           [&](const Conn& c) { return c.closing && sameName(c.name, name); });
    }
    const Dead* dead(DWORD id) const
    {
        for (const Dead& d : deads)
            if (d.id == id) return &d;
        return nullptr;
    }
    DialRule dial(std::wstring_view name) const
    {
        for (const DialRule& d : dials)
            if (sameName(d.name, name)) return d;
        return {kOk, 0, std::wstring(name)};
    }

    DWORD nextId() const
    {
        std::vector<DWORD> used;
        for (const Conn& c : conns) used.push_back(c.id);
        for (const Dead& d : deads) used.push_back(d.id);
        const DWORD top = used.empty() ? 0 : *std::max_element(used.begin(), used.end());
        if (top < MAXDWORD) return top + 1;
        for (DWORD id = 1;; ++id)
            if (std::find(used.begin(), used.end(), id) == used.end()) return id;
    }

    // New lines follow the file's first line ending, so a CRLF file stays CRLF.
    void append(std::wstring_view line)
    {
        std::string_view eol = "\n";
        for (const std::string& l : lines)
            if (!l.empty() && l.back() == '\n') {
                if (l.size() > 1 && l[l.size() - 2] == '\r') eol = "\r\n";
                break;
            }
        if (!lines.empty() && (lines.back().empty() || lines.back().back() != '\n')) lines.back() += eol;
        std::string added = narrow(line);
        added += eol;
        lines.push_back(std::move(added));
    }

    // A hung-up connection stays listed, as closing, until the deadline. Its name is kept
    // byte for byte, and so is the line's terminator.
    void startClosing(const Conn& c, std::uint64_t deadline)
    {
        std::string& l = lines[c.line];
        const std::string_view body = lineBody(l);
        const std::string name(body.substr(body.rfind('\t') + 1));
        const std::string eol = l.substr(body.size());
        l = "closing\t" + std::to_string(c.id) + "\t" + std::to_string(deadline) + "\t" + name + eol;
    }

    DWORD save() const
    {
        std::string bytes = bom ? "\xEF\xBB\xBF" : "";
        for (const std::string& l : lines) bytes += l;
        return replaceFile(path, bytes);
    }

    void parse()
    {
        // A closing line past its deadline is gone for every caller alike. Dropped before
        // parsing, so line indices are those of the lines kept, and the next rewrite omits it.
        std::erase_if(lines, [this](const std::string& l) { return closed(fieldsOf(lineBody(l))); });
        for (std::size_t i = 0; i < lines.size(); ++i) parseLine(i);
    }

private:
    static std::optional<std::uint64_t> closingDeadline(const std::vector<std::string_view>& f)
    {
        if (f.size() != 4 || f[0] != "closing" || !parseDword(f[1])) return std::nullopt;
        return parseU64(f[2]);
    }
    bool closed(const std::vector<std::string_view>& f) const
    {
        const auto deadline = closingDeadline(f);
        return deadline && *deadline <= now;
    }

    void parseLine(std::size_t index)
    {
        const std::vector<std::string_view> f = fieldsOf(lineBody(lines[index]));
        if (f.empty()) return;
        const std::string_view kind = f[0];
        if (kind == "entry" && f.size() == 3) {
            std::optional<DWORD> type = f[1] == "vpn"         ? kTypeVpn
                                        : f[1] == "phone"     ? kTypePhone
                                        : f[1] == "direct"    ? kTypeDirect
                                        : f[1] == "broadband" ? kTypeBroadband
                                                              : parseDword(f[1]);
            if (type) entries.push_back({widen(f[2]), *type});
        } else if (kind == "conn" && f.size() == 4) {
            const auto id = parseDword(f[1]);
            const std::optional<DWORD> state = f[2] == "connected"    ? kStateConnected
                                               : f[2] == "connecting" ? kStateConnecting
                                                                      : parseDword(f[2]);
            if (id && state) conns.push_back({*id, *state, widen(f[3]), index});
        } else if (kind == "closing" && closingDeadline(f)) {
            conns.push_back({*parseDword(f[1]), kStateDisconnected, widen(f[3]), index, true});
        } else if (kind == "linger" && f.size() == 2) {
            if (const auto ms = parseDword(f[1]); ms && !lingerMs) lingerMs = std::min(*ms, kMaxDelayMs);
        } else if (kind == "dead" && f.size() == 3) {
            if (const auto id = parseDword(f[1])) deads.push_back({*id, index});
        } else if (kind == "dial" && f.size() == 4) {
            const auto result = parseDword(f[1]);
            const bool held = f[2] == "hold";
            const auto delay = held ? kMaxDelayMs : parseDword(f[2]);
            if (result && delay) dials.push_back({*result, std::min(*delay, kMaxDelayMs), widen(f[3]), held});
        } else if (kind == "fail" && (f.size() == 3 || (f.size() == 4 && f[3] == "sized"))) {
            const auto code = parseDword(f[2]);
            if (code && *code != kOk) fails.push_back({std::string(f[1]), *code, f.size() == 4});
        } else if (kind == "claim" && (f.size() == 3 || f.size() == 4)) {
            const auto claimed = parseDword(f[2]);
            const auto size = f.size() == 4 ? parseDword(f[3]) : std::nullopt;
            if (claimed && (f.size() == 3 || size)) claims.push_back({std::string(f[1]), *claimed, size});
        } else if (kind == "grow" && f.size() == 3 && (f[2] == "once" || f[2] == "always")) {
            grows.push_back({std::string(f[1]), f[2] == "always"});
        }
    }
};

// Reads and parses the scenario. The caller holds the lock when it means to write it back.
DWORD loadScenario(Scenario& s)
{
    s = Scenario{};
    s.path = pathFromEnv(L"RASSIM_SCENARIO");
    s.now = nowMs();
    if (s.path.empty()) return kOk;
    std::string bytes;
    if (const DWORD e = readFile(s.path, bytes)) return e;
    std::string_view rest = bytes;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") {
        s.bom = true;
        rest.remove_prefix(3);
    }
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        const std::size_t len = nl == std::string_view::npos ? rest.size() : nl + 1;
        s.lines.emplace_back(rest.substr(0, len));
        rest.remove_prefix(len);
    }
    s.parse();
    return kOk;
}

DWORD snapshot(Scenario& s)
{
    Lock lock;
    return loadScenario(s);
}

// ---- handles ----

HANDLE handleOf(DWORD id)
{
    return id == 0 ? nullptr : reinterpret_cast<HANDLE>(kHandleBase + id);
}

std::optional<DWORD> idOf(HANDLE h)
{
    const auto v = reinterpret_cast<std::uintptr_t>(h);
    if (v <= kHandleBase || v - kHandleBase > MAXDWORD) return std::nullopt;
    return static_cast<DWORD>(v - kHandleBase);
}

std::wstring handleTag(HANDLE h)
{
    if (const auto id = idOf(h)) return L"#" + std::to_wstring(*id);
    std::wstring hex;
    for (auto v = reinterpret_cast<std::uintptr_t>(h); v || hex.empty(); v >>= 4)
        hex.insert(hex.begin(), L"0123456789ABCDEF"[v & 0xf]);
    return L"0x" + hex;
}

// ---- shared call shapes ----

// How one enumeration misbehaves, from the scenario's claim and grow lines.
struct Quirks {
    const ClaimRule* claim = nullptr;
    const GrowRule* grow = nullptr;
};

template <class Item, class Fill>
DWORD enumerate(const std::vector<Item>& items, void* buffer, DWORD* cb, DWORD* count, DWORD stride,
                const Quirks& quirks, Fill fill)
{
    if (!cb || !count) return kInvalidParameter;
    if (!buffer && quirks.claim) {
        const std::uint64_t size = std::uint64_t{quirks.claim->count} * stride;
        *cb = quirks.claim->size.value_or(static_cast<DWORD>(std::min<std::uint64_t>(size, MAXDWORD)));
        *count = quirks.claim->count;
        return kBufferTooSmall;
    }
    const auto tooSmall = [&](std::uint64_t n) {
        *cb = static_cast<DWORD>(n * stride);
        *count = static_cast<DWORD>(n);
        return kBufferTooSmall;
    };
    const bool growsAlways = quirks.grow && quirks.grow->always;
    // "once": the last record is added right after the first call has counted the list.
    const bool hidesLast = !buffer && quirks.grow && !quirks.grow->always;
    const std::size_t listed = hidesLast && !items.empty() ? items.size() - 1 : items.size();
    if (listed == 0) {
        *cb = 0;
        *count = 0;
        return kOk;
    }
    const std::uint64_t need = std::uint64_t{listed} * stride;
    if (need > MAXDWORD) return kOutOfMemory;
    if (!buffer || *cb < need) return tooSmall(listed);
    if (growsAlways) {
        // "always": by the time a buffer arrives, the list holds one record more than it has room for.
        const std::uint64_t grown = std::uint64_t{*cb / stride} + 1;
        if (grown * stride > MAXDWORD) return kOutOfMemory;
        return tooSmall(grown);
    }
    if (getDword(buffer, 0) != stride) return kInvalidSize;
    for (std::size_t i = 0; i < listed; ++i) {
        void* rec = at(buffer, i * stride);
        std::memset(rec, 0, stride);
        putDword(rec, 0, stride);
        fill(rec, items[i]);
    }
    *cb = static_cast<DWORD>(need);
    *count = static_cast<DWORD>(listed);
    return kOk;
}

// Nothing may escape into the caller, which is plain C.
template <class F>
DWORD guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return kOutOfMemory;
    }
}

} // namespace

extern "C" {

DWORD WINAPI RasEnumEntriesW(LPCWSTR /*reserved*/, LPCWSTR /*phonebook*/, void* entries, DWORD* cb, DWORD* count)
{
    return guarded([&] {
        const bool sized = entries != nullptr;
        const auto rc = [&]() -> DWORD {
            Scenario s;
            if (const DWORD e = snapshot(s)) return e;
            if (const auto f = s.forced("RasEnumEntriesW", sized)) return *f;
            const Quirks quirks{s.claim("RasEnumEntriesW"), s.grow("RasEnumEntriesW")};
            return enumerate(s.entries, entries, cb, count, entryname::kSize, quirks,
                             [](void* rec, const Entry& e) { putName(rec, entryname::kName, kNameUnits, e.name); });
        }();
        return logged(L"RasEnumEntriesW", {sized ? L"second" : L"first"}, rc);
    });
}

DWORD WINAPI RasGetEntryPropertiesW(LPCWSTR /*phonebook*/, LPCWSTR entry, void* rasEntry, DWORD* size,
                                    BYTE* /*devInfo*/, DWORD* /*devInfoSize*/)
{
    return guarded([&] {
        const bool sized = rasEntry != nullptr;
        const std::wstring name = entry ? entry : L"";
        const auto rc = [&]() -> DWORD {
            Scenario s;
            if (const DWORD e = snapshot(s)) return e;
            if (const auto f = s.forced("RasGetEntryPropertiesW", sized)) return *f;
            if (!size) return kInvalidParameter;
            const Entry* found = entry ? s.entry(name) : nullptr;
            if (!found) return kNoSuchEntry;
            if (!rasEntry || *size < rasentry::kSize) {
                *size = rasentry::kSize;
                return kBufferTooSmall;
            }
            if (getDword(rasEntry, 0) != rasentry::kSize) return kInvalidSize;
            std::memset(rasEntry, 0, rasentry::kSize);
            putDword(rasEntry, 0, rasentry::kSize);
            putDword(rasEntry, rasentry::kType, found->type);
            return kOk;
        }();
        return logged(L"RasGetEntryPropertiesW", {sized ? L"record" : L"size", loggable(name)}, rc);
    });
}

DWORD WINAPI RasGetEntryDialParamsW(LPCWSTR /*phonebook*/, void* params, BOOL* hasPassword)
{
    return guarded([&] {
        const bool usable = params && getDword(params, 0) == dialparams::kSize;
        const std::wstring name = usable ? getName(params, dialparams::kEntryName, kNameUnits) : L"";
        const auto rc = [&]() -> DWORD {
            Scenario s;
            if (const DWORD e = snapshot(s)) return e;
            if (const auto f = s.forced("RasGetEntryDialParamsW", params != nullptr)) return *f;
            if (!params) return kInvalidParameter;
            if (!usable) return kInvalidSize;
            if (!s.entry(name)) return kNoSuchEntry;
            using namespace dialparams;
            std::memset(at(params, kPhone), 0, kSize - kPhone); // everything after the entry name
            putName(params, kUser, kUserUnits, L"rassim-user");
            putName(params, kDomain, kDomainUnits, L"RASSIMDOM");
            putName(params, kPassword, kPasswordUnits, L"rassim-password");
            if (hasPassword) *hasPassword = TRUE;
            return kOk;
        }();
        return logged(L"RasGetEntryDialParamsW", {loggable(name)}, rc);
    });
}

// A held dial waits until the scenario's rule for the name is no longer "hold" (or the
// scenario cannot be read, which the dial then reports), or maxMs have passed. Its result
// stays the one of the rule it began with.
void holdDial(const std::wstring& name, DWORD maxMs)
{
    const ULONGLONG until = GetTickCount64() + maxMs;
    for (;;) {
        Scenario s;
        if (snapshot(s) != kOk || !s.dial(name).held || GetTickCount64() >= until) return;
        Sleep(kHoldPollMs);
    }
}

DWORD WINAPI RasDialW(void* /*extensions*/, LPCWSTR /*phonebook*/, void* params, DWORD /*notifierType*/,
                      void* /*notifier: always dials synchronously*/, HANDLE* conn)
{
    return guarded([&] {
        const bool usable = params && getDword(params, 0) == dialparams::kSize;
        const std::wstring name = usable ? getName(params, dialparams::kEntryName, kNameUnits) : L"";
        const auto rc = [&]() -> DWORD {
            DialRule outcome{};
            {
                Scenario s;
                if (const DWORD e = snapshot(s)) return e;
                if (const auto f = s.forced("RasDialW", params != nullptr)) return *f;
                if (!params || !conn) return kInvalidParameter;
                if (!usable) return kInvalidSize;
                // Such a name could not be written back as one scenario line, so no entry has it.
                if (s.path.empty() || name.find_first_of(L"\t\r\n") != std::wstring::npos) return kNoSuchEntry;
                outcome = s.dial(name);
                // The entry's line is still closing after a hang-up: the port is taken.
                if (s.closing(name)) outcome = {kPortOpen, 0, name};
            }
            appendLog(L"RasDialW-begin\t" + loggable(name));
            if (outcome.held)
                holdDial(name, outcome.delayMs);
            else if (outcome.delayMs)
                Sleep(outcome.delayMs);

            Lock lock;
            Scenario s;
            if (const DWORD e = loadScenario(s)) return e;
            const DWORD id = s.nextId();
            if (outcome.result == kOk)
                s.append(L"conn\t" + std::to_wstring(id) + L"\tconnected\t" + name);
            else
                s.append(L"dead\t" + std::to_wstring(id) + L"\t" + name);
            if (const DWORD e = s.save()) return e;
            *conn = handleOf(id);
            return outcome.result;
        }();
        return logged(L"RasDialW", {loggable(name)}, rc);
    });
}

DWORD WINAPI RasHangUpW(HANDLE conn)
{
    return guarded([&] {
        const auto rc = [&]() -> DWORD {
            Lock lock;
            Scenario s;
            if (const DWORD e = loadScenario(s)) return e;
            if (const auto f = s.forced("RasHangUpW", false)) return *f;
            const auto id = idOf(conn);
            if (!id) return kInvalidHandle;
            std::size_t line;
            if (const Conn* c = s.conn(*id)) {
                // Hanging up a line that is already closing changes nothing, its deadline included.
                if (c->closing) return kOk;
                if (s.lingerMs.value_or(0) > 0) {
                    s.startClosing(*c, s.now + *s.lingerMs);
                    return s.save();
                }
                line = c->line;
            } else if (const Dead* d = s.dead(*id)) {
                line = d->line; // a failed dial holds no line: released at once
            } else {
                return kInvalidHandle;
            }
            s.lines.erase(s.lines.begin() + static_cast<std::ptrdiff_t>(line));
            return s.save();
        }();
        return logged(L"RasHangUpW", {handleTag(conn)}, rc);
    });
}

DWORD WINAPI RasEnumConnectionsW(void* conns, DWORD* cb, DWORD* count)
{
    return guarded([&] {
        const bool sized = conns != nullptr;
        const auto rc = [&]() -> DWORD {
            Scenario s;
            if (const DWORD e = snapshot(s)) return e;
            if (const auto f = s.forced("RasEnumConnectionsW", sized)) return *f;
            const Quirks quirks{s.claim("RasEnumConnectionsW"), s.grow("RasEnumConnectionsW")};
            return enumerate(s.conns, conns, cb, count, rasconn::kSize, quirks, [](void* rec, const Conn& c) {
                putHandle(rec, rasconn::kHandle, handleOf(c.id));
                putName(rec, rasconn::kName, kNameUnits, c.name);
            });
        }();
        return logged(L"RasEnumConnectionsW", {sized ? L"second" : L"first"}, rc);
    });
}

DWORD WINAPI RasGetConnectStatusW(HANDLE conn, void* status)
{
    return guarded([&] {
        const auto rc = [&]() -> DWORD {
            Scenario s;
            if (const DWORD e = snapshot(s)) return e;
            if (const auto f = s.forced("RasGetConnectStatusW", status != nullptr)) return *f;
            if (!status) return kInvalidParameter;
            if (getDword(status, 0) != connstatus::kSize) return kInvalidSize;
            const auto id = idOf(conn);
            const Conn* c = id ? s.conn(*id) : nullptr;
            if (!c) return kInvalidHandle;
            std::memset(status, 0, connstatus::kSize);
            putDword(status, 0, connstatus::kSize);
            putDword(status, connstatus::kState, c->state);
            putDword(status, connstatus::kError, kOk);
            return kOk;
        }();
        return logged(L"RasGetConnectStatusW", {handleTag(conn)}, rc);
    });
}

const wchar_t* WINAPI RasSimVariant()
{
    return RASSIM_VARIANT;
}

} // extern "C"
