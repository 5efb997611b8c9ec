#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/Artwork.h"
#include "app/DesktopFileOpener.h"
#include "app/InstanceChannel.h"
#include "app/MainWindow.h"
#include "app/ProgramLayout.h"
#include "app/QtMessageBoxes.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "console/Console.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs(
            "quillstep: no display found (DISPLAY is unset); start it from a graphical session\n",
            stderr);
        return 1;
    }
    quill::ensureRuntimeDirectory();
    QApplication app(argc, argv);
    // The menu entry's id: desktops match the running window to it.
    QGuiApplication::setDesktopFileName("org.quillstep.Quillstep");
    QApplication::setWindowIcon(quill::programIcon());
    quill::installQtChinese(app);

    const QString programDir = QCoreApplication::applicationDirPath();
    QDir::setCurrent(programDir);
    const quill::ProgramLayout layout = quill::programLayout(programDir);
    if (!layout.interpreterFound)
        std::fprintf(stderr, "quillstep: the console interpreter quill-cmd is missing (%s)\n",
                     qPrintable(layout.interpreter));

    // The user started it to see it: a running instance comes to the front.
    auto anotherInstanceRunning = [] {
        if (!quill::isAnotherInstanceRunning(""))
            return false;
        quill::askRunningInstanceToShow("");
        return true;
    };
    quill::ProgramState state;
    quill::QtMessageBoxes boxes;
    quill::DesktopFileOpener opener;
    quill::Console console(layout.interpreter, QDir::homePath());
    quill::skin::SkinEngine skin;
    auto endProgram = [](int code) { std::_Exit(code); };
    quill::WindowServices services{boxes,      opener,  state, anotherInstanceRunning,
                                   endProgram, console, &skin};
    if (layout.installed)
        services.reportFolders = quill::stats::ReportFolders::ofInstalledProgram();
    auto* window = new quill::MainWindow(services);
    auto bringToFront = [window] { window->bringToFront(); };
    new quill::InstanceChannel("", bringToFront, window);
    return quill::runWindow(window);
}
