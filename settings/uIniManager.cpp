#include "settings/uIniManager.h"

#include <windows.h>
#include <shlobj.h>

#include <string_view>

#include "framework/Handles.h"
#include "framework/Text.h"
#include "settings/IniDocument.h"

namespace uIniManager {

namespace {

constexpr wchar_t KFolder[] = L"Morvane\\Tarnwick";
constexpr wchar_t KFileName[] = L"Tarnwick.ini";
constexpr char16_t KSection[] = u"system";
constexpr char16_t KKey[] = u"enable_notification";

std::unique_ptr<TIniManager> GIniManager;

std::wstring JoinPath(const std::wstring& AFolder, const std::wstring& AName)
{
    if (AFolder.empty()) return AName;
    if (AFolder.back() == L'\\' || AFolder.back() == L'/') return AFolder + AName;
    return AFolder + L'\\' + AName;
}

std::wstring SettingsFolder()
{
    wchar_t appData[MAX_PATH] = {};
    std::wstring base;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) base = appData;
    return JoinPath(base, KFolder);
}

bool DirectoryExists(const std::wstring& APath)
{
    DWORD attributes = GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates APath with every missing parent level.
void ForceDirectories(const std::wstring& APath)
{
    DWORD n = GetFullPathNameW(APath.c_str(), 0, nullptr, nullptr);
    if (n == 0) fw::RaiseLastOSError();
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(APath.c_str(), n, full.data(), nullptr);
    if (n == 0) fw::RaiseLastOSError();
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();

    // Walk up to the deepest existing level, then create downwards.
    std::vector<std::wstring> missing;
    std::wstring level = full;
    while (!DirectoryExists(level)) {
        missing.push_back(level);
        size_t slash = level.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash < 3) break;
        level.resize(slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) fw::RaiseLastOSError();
}

std::u16string UpperCase(std::u16string_view AText)
{
    std::wstring text = fw::ToWide(AText);
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return fw::ToUtf16(text);
}

std::string ReadFileBytes(const std::wstring& APath)
{
    // Others may read along, but nobody may write while we read.
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        throw EFOpenError(L"ファイル " + APath + L" は開けません。 " + fw::SysErrorMessage(error) + L" ");
    }
    std::string bytes;
    char chunk[16384];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr)) {
            DWORD error = GetLastError();
            throw EFOpenError(L"ファイル " + APath + L" は開けません。 " + fw::SysErrorMessage(error) + L" ");
        }
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    return bytes;
}

[[noreturn]] void RaiseCreateError(const std::wstring& APath, DWORD AError)
{
    throw EFCreateError(L"ファイル \"" + APath + L"\" を作成できません。" + fw::SysErrorMessage(AError));
}

// Writes the whole file so that it is never seen half-written: the bytes go
// to a temporary file beside it, which then replaces it in one step. On any
// failure the old file stays as it was.
void WriteFileBytes(const std::wstring& APath, const std::string& ABytes)
{
    std::wstring temporary = APath + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    {
        fw::TFileHandle file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) RaiseCreateError(APath, GetLastError());
        DWORD written = 0;
        bool ok = WriteFile(file.Get(), ABytes.data(), static_cast<DWORD>(ABytes.size()), &written, nullptr) &&
                  written == ABytes.size() && FlushFileBuffers(file.Get());
        if (!ok) {
            DWORD error = GetLastError();
            file.Reset();
            DeleteFileW(temporary.c_str());
            RaiseCreateError(APath, error);
        }
    }
    if (!MoveFileExW(temporary.c_str(), APath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        RaiseCreateError(APath, error);
    }
}

} // namespace

TIniManager::TIniManager()
{
    Load();
}

std::wstring TIniManager::FilePath()
{
    return JoinPath(SettingsFolder(), KFileName);
}

settings::TIniDocument TIniManager::OpenIniFile() const
{
    std::wstring folder = SettingsFolder();
    if (!DirectoryExists(folder)) ForceDirectories(folder);
    std::wstring path = JoinPath(folder, KFileName);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return settings::TIniDocument(UpperCase);
    std::string bytes = ReadFileBytes(path);
    try {
        return settings::TIniDocument::Parse(bytes, UpperCase);
    } catch (const settings::EIniEncodingError&) {
        throw EEncodingError(L"Unicode 文字のマッピングがターゲットのマルチバイト コード ページに存在しません");
    }
}

void TIniManager::Load()
{
    FEnableNotification = OpenIniFile().ReadBool(KSection, KKey, true);
}

void TIniManager::Save() const
{
    settings::TIniDocument document = OpenIniFile();
    document.WriteBool(KSection, KKey, FEnableNotification);
    WriteFileBytes(FilePath(), document.Serialize());
}

void TIniManager::Update()
{
    Save();
}

void TIniManager::Destroy(std::unique_ptr<TIniManager> AManager)
{
    if (AManager) AManager->Save();
}

TIniManager& IniManager()
{
    return *GIniManager;
}

void InitializeUnit()
{
    GIniManager = std::make_unique<TIniManager>();
}

void FinalizeUnit()
{
    TIniManager::Destroy(std::move(GIniManager));
}

} // namespace uIniManager
