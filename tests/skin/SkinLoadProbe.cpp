// Loads the embedded skin component, attaches and detaches the embedded skin
// and unloads the component, between two marker calls that a tracer can
// find: the test runs this under strace to see which files it opens.
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

#include "app/skin/SkinApi.h"
#include "app/skin/SkinEngine.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    bool ok = false;
    access("/quill-skin-probe/begin", F_OK);
    {
        quill::skin::SkinEngine engine;
        quill::skin::attachProgramSkin(engine);
        ok = engine.loader().loaded() && !qApp->styleSheet().isEmpty() &&
             engine.detachSkin() == quill::skin::SkinOk;
    }
    access("/quill-skin-probe/end", F_OK);
    return ok ? 0 : 1;
}
