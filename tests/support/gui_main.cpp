#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/Startup.h"

int main(int argc, char** argv) {
    // GUI tests run anywhere: no display needed unless the caller asks for one.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // As the program does: no warning about XDG_RUNTIME_DIR from every test run.
    quill::ensureRuntimeDirectory();
    // What the window keeps between runs (broken runs to resume) stays
    // with this test, out of the user's own state folder.
    QTemporaryDir state;
    setenv("XDG_STATE_HOME", QFile::encodeName(state.path()).constData(), 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
