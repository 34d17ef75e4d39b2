// The settings file on the (Wine) file system: where it lives, the bytes of
// a first run, and what the user is told when it cannot be read or written.
#include <gtest/gtest.h>

#include <windows.h>

#include "framework/Handles.h"
#include "settings/uIniManager.h"
#include "tests/TestSupport.h"

namespace {

using uIniManager::TIniManager;

std::string ReadBytes(const std::wstring& APath)
{
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void WriteBytes(const std::wstring& APath, const std::string& ABytes)
{
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    WriteFile(file.Get(), ABytes.data(), static_cast<DWORD>(ABytes.size()), &written, nullptr);
}

std::wstring Folder(const std::wstring& APath)
{
    return APath.substr(0, APath.find_last_of(L'\\'));
}

const std::string KFirstRun = "\xEF\xBB\xBF[system]\r\nenable_notification=1\r\n\r\n";

// Keeps the user's settings file aside for the test and puts it back after.
class SettingsTest : public testing::Test {
protected:
    SettingsTest() : Path(TIniManager::FilePath()), Saved(ReadBytes(Path)) {}
    ~SettingsTest() override
    {
        if (Saved == "<missing>")
            DeleteFileW(Path.c_str());
        else
            WriteBytes(Path, Saved);
    }
    std::wstring FolderEntries()
    {
        std::wstring names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((Folder(Path) + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (data.cFileName[0] != L'.') names += std::wstring(data.cFileName) + L";";
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    std::wstring Path;
    std::string Saved;
};

TEST_F(SettingsTest, FirstRunCreatesTheFoldersReadsTrueAndWrites38BytesAtTheEnd)
{
    std::wstring tarnwick = Folder(Path), morvane = Folder(tarnwick);
    ASSERT_TRUE(tarnwick.ends_with(L"\\AppData\\Roaming\\Morvane\\Tarnwick")) << tarnwick;
    DeleteFileW(Path.c_str());
    RemoveDirectoryW(tarnwick.c_str());
    RemoveDirectoryW(morvane.c_str());
    ASSERT_EQ(GetFileAttributesW(morvane.c_str()), INVALID_FILE_ATTRIBUTES);

    auto manager = std::make_unique<TIniManager>();
    EXPECT_TRUE(manager->EnableNotification());
    EXPECT_NE(GetFileAttributesW(tarnwick.c_str()), INVALID_FILE_ATTRIBUTES) << "folder created at load";
    EXPECT_EQ(ReadBytes(Path), "<missing>") << "the load writes nothing";

    TIniManager::Destroy(std::move(manager));
    EXPECT_EQ(ReadBytes(Path), KFirstRun);
    EXPECT_EQ(FolderEntries(), L"Tarnwick.ini;") << "no temporary file left";
}

TEST_F(SettingsTest, UpdateWritesTheNormalFormAndKeepsWhatOthersWrote)
{
    WriteBytes(Path, "; mine\n[SYSTEM]\nEnable_Notification = 1\nother=2\n[extra]\nkey=v\n");
    TIniManager manager;
    EXPECT_TRUE(manager.EnableNotification());
    manager.SetEnableNotification(false);
    manager.Update();
    EXPECT_EQ(ReadBytes(Path),
              "\xEF\xBB\xBF[SYSTEM]\r\nEnable_Notification=0\r\nother=2\r\n\r\n[extra]\r\nkey=v\r\n\r\n");
    EXPECT_FALSE(TIniManager().EnableNotification());
}

TEST_F(SettingsTest, NonUtf8FilesFailToLoadWithTheEncodingMessage)
{
    for (const std::string& bytes :
         {std::string("\xFF\xFE[\0s\0]\0", 8), std::string("[system]\r\nname=caf\xE9\r\n")}) {
        WriteBytes(Path, bytes);
        EXPECT_EQ(test::ThrownMessage<uIniManager::EEncodingError>([] { TIniManager manager; }),
                  L"Unicode 文字のマッピングがターゲットのマルチバイト コード ページに存在しません");
    }
}

TEST_F(SettingsTest, AFileHeldOpenForWritingCannotBeReadAndTheMessageSaysSo)
{
    WriteBytes(Path, KFirstRun);
    TIniManager manager;
    fw::TFileHandle writer(CreateFileW(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    manager.SetEnableNotification(false);
    EXPECT_EQ(test::ThrownMessage<uIniManager::EFOpenError>([&] { manager.Update(); }),
              L"ファイル " + Path + L" は開けません。 " + fw::SysErrorMessage(ERROR_SHARING_VIOLATION) + L" ");
    EXPECT_FALSE(manager.EnableNotification()) << "the new value stays in memory";
    writer.Reset();
    manager.Update();
    EXPECT_FALSE(TIniManager().EnableNotification()) << "the next save writes it";
}

TEST_F(SettingsTest, AFailedWriteLeavesTheOldFileWhole)
{
    WriteBytes(Path, KFirstRun);
    TIniManager manager;
    // A reader that allows no deletion keeps the file from being replaced.
    fw::TFileHandle reader(
        CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    manager.SetEnableNotification(false);
    const std::wstring message = test::ThrownMessage<uIniManager::EFCreateError>([&] { manager.Update(); });
    EXPECT_TRUE(message.starts_with(L"ファイル \"" + Path + L"\" を作成できません。")) << message;
    reader.Reset();
    EXPECT_EQ(ReadBytes(Path), KFirstRun);
    EXPECT_EQ(FolderEntries(), L"Tarnwick.ini;") << "no temporary file left";
}

} // namespace
