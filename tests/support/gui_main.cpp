#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/Startup.h"

int main(int argc, char** argv) {
    // GUI tests run anywhere: no display needed unless the caller asks for one.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // As the program does: no warning about XDG_RUNTIME_DIR from every test run.
    quill::ensureRuntimeDirectory();
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
