#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

struct Program {
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    skin::SkinEngine skin;

    MainWindow* window(bool anotherRunning) {
        return new MainWindow({boxes, opener, state, [anotherRunning] { return anotherRunning; },
                               [](int) {}, console, &skin});
    }
};

}  // namespace

TEST(MainWindowSkin, AttachedAtCreationAndDetachedAtDestruction) {
    const QPalette platform = QApplication::palette();
    Program program;
    MainWindow* window = program.window(false);
    EXPECT_TRUE(program.skin.loader().loaded());
    EXPECT_FALSE(program.skin.skinData().isEmpty());
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_NE(QApplication::palette(), platform);

    delete window;
    EXPECT_TRUE(program.skin.skinData().isEmpty());
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(QApplication::palette(), platform);
    // Detaching leaves the component loaded, as the program is ending anyway.
    EXPECT_TRUE(program.skin.loader().loaded());
}

TEST(MainWindowSkin, SecondInstanceEndsBeforeTheSkin) {
    Program program;
    delete program.window(true);
    EXPECT_FALSE(program.skin.loader().loaded());
    EXPECT_TRUE(program.skin.skinData().isEmpty());
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}
