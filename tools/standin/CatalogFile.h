#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "Catalog.h"

namespace standin {

// Adds the databases and tables of a catalog document to `catalog`:
//   {"databases":[{"name":"Shop","tables":[{"name":"Orders","schema":"dbo",
//     "rows":120,"indexRows":[120,80]}]}]}
// Returns what is wrong with the document, if anything.
std::optional<QString> loadCatalog(const QByteArray& json, Catalog& catalog);

}  // namespace standin
