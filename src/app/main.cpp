#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/DesktopFileOpener.h"
#include "app/MainWindow.h"
#include "app/QtMessageBoxes.h"
#include "app/SingleInstance.h"
#include "console/Console.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs(
            "quillstep: no display found (DISPLAY is unset); start it from a graphical session\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    quill::ProgramState state;
    quill::QtMessageBoxes boxes;
    quill::DesktopFileOpener opener;
    quill::Console console(QCoreApplication::applicationDirPath() + "/quill-cmd", QDir::homePath());
    quill::skin::SkinEngine skin;
    auto* window = new quill::MainWindow({boxes, opener, state,
                                          [] { return quill::isAnotherInstanceRunning(""); },
                                          [](int code) { std::_Exit(code); }, console, &skin});
    return quill::runWindow(window);
}
