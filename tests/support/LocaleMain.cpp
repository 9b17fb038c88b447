// The main of the test programs that run once more under a German locale:
// like the program, they take the locale of their environment, so a number
// that went through the C library's locale would show there.
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
