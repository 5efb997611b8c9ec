#include "preflight/ResumeStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "console/StatusChannel.h"
#include "core/Folders.h"

namespace quill::preflight {

namespace {

QJsonObject toJson(const ScriptKey& key, const ResumePoint& from) {
    return QJsonObject{
        {"path", key.path},
        {"size", QString::number(key.size)},
        {"modifiedNs", QString::number(key.modifiedNs)},
        {"digest", QString::fromLatin1(key.digest)},
        {"start", QJsonArray{QString::number(from.nextBatch), QString::number(from.nextLine)}},
    };
}

bool writeFile(const QString& path, const QByteArray& content, QString* error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

}  // namespace

ResumeStore::ResumeStore(QString folder) : folder_(std::move(folder)) {}

QString ResumeStore::defaultFolder() {
    return stateFolder() + "/resume";
}

QString ResumeStore::base(const ScriptKey& key) const {
    const QByteArray id =
        QCryptographicHash::hash(key.path.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
    return folder_ + "/" + QString::fromLatin1(id);
}

QString ResumeStore::remainderPath(const ScriptKey& key) const {
    return base(key) + ".remainder.sql";
}

QString ResumeStore::beginRun(const ScriptKey& key, const ResumePoint& from, QString* error) {
    if (!QDir().mkpath(folder_)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(folder_);
        return {};
    }
    const QString journal = base(key) + ".journal";
    const std::string entry = console::formatJournal({from.nextBatch, from.nextLine});
    // The journal first: a key without its journal would offer the old start.
    if (!writeFile(journal, QByteArray::fromStdString(entry), error) ||
        !writeFile(base(key) + ".key", QJsonDocument(toJson(key, from)).toJson(), error))
        return {};
    return journal;
}

std::optional<ResumePoint> ResumeStore::lookup(const ScriptKey& key) const {
    QFile record(base(key) + ".key");
    if (!record.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(record.readAll()).object();
    const QJsonArray start = json.value("start").toArray();
    ResumePoint point{start.at(0).toString().toLongLong(), start.at(1).toString().toLongLong()};
    if (json != toJson(key, point)) {
        forget(key);
        return std::nullopt;
    }
    QFile journal(base(key) + ".journal");
    if (journal.open(QIODevice::ReadOnly)) {
        const QByteArray text = journal.read(256);
        if (const auto entry = console::parseJournal(text.toStdString()))
            point = {entry->nextBatch, entry->nextLine};
    }
    if (point.nextBatch <= 1 || point.nextLine < 1)
        return std::nullopt;
    return point;
}

void ResumeStore::finishRun(const ScriptKey& key) const {
    forget(key);
}

void ResumeStore::forget(const ScriptKey& key, bool withRemainder) const {
    QFile::remove(base(key) + ".key");
    QFile::remove(base(key) + ".journal");
    if (withRemainder)
        QFile::remove(remainderPath(key));
}

}  // namespace quill::preflight
