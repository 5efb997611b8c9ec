#include "stats/ReportFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

namespace quill::stats {

namespace {

WrittenReport replaceFile(const QString& folder, const QByteArray& bytes) {
    WrittenReport r{QDir(folder).filePath(kReportFileName), {}};
    if (!QDir().mkpath(folder)) {
        r.error = "无法创建文件夹";
        return r;
    }
    QSaveFile file(r.path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        r.error = file.errorString();
    return r;
}

}  // namespace

ReportFolders ReportFolders::ofThisProgram() {
    return {QCoreApplication::applicationDirPath(), ofInstalledProgram().documents};
}

ReportFolders ReportFolders::ofInstalledProgram() {
    return {{},
            QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                .filePath("Quillstep")};
}

WrittenReport writeReport(const ReportFolders& folders, const QByteArray& bytes) {
    if (!folders.program.isEmpty()) {
        WrittenReport r = replaceFile(folders.program, bytes);
        if (r.ok() || folders.documents.isEmpty())
            return r;
    }
    return replaceFile(folders.documents, bytes);
}

}  // namespace quill::stats
