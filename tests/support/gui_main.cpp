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
    // Run logs and the log box's spool go to a folder of the tests' own, not
    // the user's.
    QTemporaryDir xdg;
    if (xdg.isValid()) {
        setenv("XDG_STATE_HOME", QFile::encodeName(xdg.filePath("state")).constData(), 1);
        setenv("XDG_CACHE_HOME", QFile::encodeName(xdg.filePath("cache")).constData(), 1);
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
