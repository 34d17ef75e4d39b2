// The test executable brings the framework up like the program's entry does,
// so windows, menus and the hand-off queue have their application object.
#include <gtest/gtest.h>

#include "framework/Application.h"

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    fw::InitializeFrameworkUnit();
    int result = RUN_ALL_TESTS();
    fw::FinalizeFrameworkUnit();
    return result;
}
