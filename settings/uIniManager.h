#pragma once
// The one user setting, whether result balloons are shown, kept in
// "Morvane\Tarnwick\Tarnwick.ini" under the roaming application-data folder.
#include <memory>
#include <string>

#include "framework/Exceptions.h"

namespace settings {
class TIniDocument;
}

namespace uIniManager {

// The settings file exists but cannot be opened for reading.
class EFOpenError : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"EFOpenError"; }
};

// The settings file cannot be written.
class EFCreateError : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"EFCreateError"; }
};

// The settings file is not valid UTF-8.
class EEncodingError : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"EEncodingError"; }
};

class TIniManager {
public:
    // Loads the setting from the file, creating its folder if needed.
    TIniManager();
    ~TIniManager() = default;
    TIniManager(const TIniManager&) = delete;
    TIniManager& operator=(const TIniManager&) = delete;

    bool EnableNotification() const noexcept { return FEnableNotification; }
    // Changes the setting in memory only; Update writes it.
    void SetEnableNotification(bool AValue) noexcept { FEnableNotification = AValue; }

    // Writes the setting to the file at once.
    void Update();
    // Saves, then frees the object; it is freed also when the save fails.
    static void Destroy(std::unique_ptr<TIniManager> AManager);

    // The settings file's full path (for messages and tests).
    static std::wstring FilePath();

private:
    settings::TIniDocument OpenIniFile() const;
    void Load();
    void Save() const;

    bool FEnableNotification = false;
};

// The process-wide settings object, from the unit's initialisation to its
// finalisation.
TIniManager& IniManager();

void InitializeUnit();
void FinalizeUnit();

} // namespace uIniManager
