#include <gtest/gtest.h>

#include "system/win32/com_apartment.h"

// The window, WMI and ADSI all run on one COM apartment thread, as in the program.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const quill::win32::ComApartment com;
    return RUN_ALL_TESTS();
}
