#include "CatalogFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace standin {
namespace {

constexpr double kMaxRows = 2147483647.0;  // sysindexes counts are int

bool isRowCount(const QJsonValue& v) {
    double d = v.toDouble(-1);
    return v.isDouble() && d >= 0 && d <= kMaxRows && std::floor(d) == d;
}

}  // namespace

std::optional<QString> loadCatalog(const QByteArray& json, Catalog& catalog) {
    QJsonParseError parseError;
    QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return QStringLiteral("not valid JSON: ") + parseError.errorString();
    const QJsonValue databases = doc.object().value("databases");
    if (!databases.isArray())
        return QStringLiteral("\"databases\" must be an array");
    const DateTime now = dateTimeNow();
    for (const QJsonValue& d : databases.toArray()) {
        const QString dbName = d.toObject().value("name").toString();
        if (dbName.isEmpty() || dbName.size() > 128)
            return QStringLiteral("a database needs a name of 1 to 128 characters");
        Database* db = catalog.find(dbName.toStdU16String());
        if (!db)
            db = &catalog.create(dbName.toStdU16String());
        for (const QJsonValue& t : d.toObject().value("tables").toArray()) {
            const QJsonObject table = t.toObject();
            const QString name = table.value("name").toString();
            const QString schema = table.value("schema").toString("dbo");
            if (name.isEmpty() || name.size() > 128 || schema.isEmpty())
                return QStringLiteral(
                           "a table of %1 needs a name and a schema of 1 to 128 characters")
                    .arg(dbName);
            if (!isRowCount(table.value("rows")))
                return QStringLiteral(
                           "table %1.%2: \"rows\" must be a whole number from 0 to 2147483647")
                    .arg(dbName, name);
            std::vector<std::int64_t> indexRows;
            for (const QJsonValue& r : table.value("indexRows").toArray()) {
                if (!isRowCount(r))
                    return QStringLiteral(
                               "table %1.%2: \"indexRows\" must hold whole numbers from 0 to "
                               "2147483647")
                        .arg(dbName, name);
                indexRows.push_back(static_cast<std::int64_t>(r.toDouble()));
            }
            if (db->findTable(schema.toStdU16String(), name.toStdU16String()))
                return QStringLiteral("table %1.%2.%3 is listed twice").arg(dbName, schema, name);
            db->addTable(schema.toStdU16String(), name.toStdU16String(),
                         static_cast<std::int64_t>(table.value("rows").toDouble()),
                         std::move(indexRows), now);
        }
    }
    return std::nullopt;
}

}  // namespace standin
