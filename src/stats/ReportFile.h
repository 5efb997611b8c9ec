#pragma once

#include <QByteArray>
#include <QString>

namespace quill::stats {

constexpr char kReportFileName[] = "test.txt";

// Where the report may go, in order of preference.
struct ReportFolders {
    QString program;    // the folder that holds the executable; empty: not used
    QString documents;  // for when the program's folder takes no files

    // The executable's folder, and Quillstep in the user's documents folder.
    static ReportFolders ofThisProgram();
    // Only the documents folder: an installed program's folder is the
    // system's (/usr/bin), not a place for the user's files, even for root.
    static ReportFolders ofInstalledProgram();
};

struct WrittenReport {
    QString path;   // the file written, or the last one tried
    QString error;  // empty on success
    bool ok() const { return error.isEmpty(); }
};

// Replaces the report file with exactly `bytes`: in the program's folder
// (when there is one), or, when the file cannot be written there (an installed program in a
// system folder), in the documents folder, created when needed. The file is
// written whole under a temporary name and then renamed over the old one,
// so a reader never sees a half-written or appended report.
WrittenReport writeReport(const ReportFolders& folders, const QByteArray& bytes);

}  // namespace quill::stats
