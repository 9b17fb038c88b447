#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

#include "ui/VextalApp.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No browser engine in widget tests: its threads outlive the test and
    // hold memory the leak checker reports. (The ctest ENVIRONMENT list of
    // this binary reaches the test as its first entry only.)
    qputenv("VEXTAL_NO_WEBENGINE", "1");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // as the program does
    vextal::LoadQtChineseTexts();     // as the program does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
