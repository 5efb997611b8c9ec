#pragma once

#include <QString>

#include "db/ODBCDB.h"

// Babelfish for PostgreSQL answers as SQL Server does, with differences the
// flows must step around (docs/babelfish.md has them all).
namespace quill::db::babelfish {

// The database names: Babelfish sends its sysname columns in code page
// 1252, a "?" for every character beyond it; as nvarchar they arrive whole.
constexpr char kDatabaseNamesStatement[] =
    "select CAST(name AS nvarchar(128)) AS name from sysdatabases";

// Whether a @@version text is Babelfish's.
inline bool isBabelfishVersion(const QString& version) {
    return version.startsWith("Babelfish");
}

// Asks the server behind `db` (one round trip).
inline bool isBabelfish(ODBCDB& db) {
    const ODBCDB::RecordSetHandle h = db.OpenTable("select @@version");
    const bool babelfish = isBabelfishVersion(db.ReadColumn(h, 1).toText());
    db.CloseTable(h);
    return babelfish;
}

}  // namespace quill::db::babelfish
