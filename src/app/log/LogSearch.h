#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <optional>

#include "app/log/LogDocument.h"

namespace quill::logbox {

// Where needle (UTF-8) next occurs in the log: the first match starting at
// or after from, or with backward the last one starting before from; the
// search goes on from the other end when it reaches one. The case of A to Z
// is ignored, as everywhere the program searches text. Nothing when the log
// does not hold it or the search was cancelled.
std::optional<quint64> findInLog(const LogSnapshot& log, const QByteArray& needle, quint64 from,
                                 bool backward, const std::atomic<bool>& cancelled);

// Writes the whole log, as stored, to path (replacing the file only once
// all is written). Returns why it failed; empty on success.
QString exportLog(const LogSnapshot& log, const QString& path, const std::atomic<bool>& cancelled);

}  // namespace quill::logbox
