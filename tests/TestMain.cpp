// The test executable brings the framework up like the program's entry does,
// so windows, menus and the hand-off queue have their application object.
#include <gtest/gtest.h>

#include "framework/Application.h"
#include "settings/uIniManager.h"
#include "tests/TestSupport.h"

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    test::InstallProgramServices();
    fw::InitializeFrameworkUnit();
    fw::Application->Initialize();
    fw::Application->MainFormOnTaskBar = false; // as the program sets it
    uIniManager::InitializeUnit();
    int result = RUN_ALL_TESTS();
    uIniManager::FinalizeUnit();
    fw::FinalizeFrameworkUnit();
    return result;
}
