#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/ProgramLayout.h"

using namespace quill;

namespace {

void makeProgram(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.setPermissions(f.permissions() | QFile::ExeOwner);
}

}  // namespace

TEST(ProgramLayout, FindsTheInterpreterBesideTheProgramThenInstalled) {
    QTemporaryDir root;
    const QString bin = root.filePath("usr/bin");
    const QString installed = root.filePath("usr/libexec/quillstep/quill-cmd");
    QDir().mkpath(bin);

    // Neither: the place beside it is named, and nothing is found.
    ProgramLayout none = programLayout(bin);
    EXPECT_FALSE(none.interpreterFound);
    EXPECT_EQ(none.interpreter, bin + "/quill-cmd");

    makeProgram(installed);
    ProgramLayout inTree = programLayout(bin);
    EXPECT_TRUE(inTree.interpreterFound);
    EXPECT_TRUE(inTree.installed);
    EXPECT_EQ(inTree.interpreter, installed);

    // One beside the program wins: a build tree, or a copy kept together.
    makeProgram(bin + "/quill-cmd");
    ProgramLayout beside = programLayout(bin);
    EXPECT_FALSE(beside.installed);
    EXPECT_EQ(beside.interpreter, bin + "/quill-cmd");

    // A file that cannot run is not an interpreter.
    QFile::setPermissions(bin + "/quill-cmd", QFile::ReadOwner);
    EXPECT_EQ(programLayout(bin).interpreter, installed);
}
