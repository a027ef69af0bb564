// Runs a QTest class on the offscreen platform unless another is asked for,
// so the tests need no display.
#pragma once

#include <QApplication>
#include <QTest>

#define KESTRUNE_OFFSCREEN_TEST_MAIN(TestClass)                                    \
  int main(int argc, char** argv) {                                                \
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))                             \
      qputenv("QT_QPA_PLATFORM", "offscreen");                                     \
    QApplication application(argc, argv);                                          \
    TestClass test;                                                                \
    return QTest::qExec(&test, argc, argv);                                        \
  }
