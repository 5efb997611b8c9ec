#pragma once

#include <QByteArray>
#include <cstdint>

#include "db/FieldValue.h"

namespace quill::db {

// How a result column's values are held and converted, by its ODBC SQL type.

// Bytes of the text buffer a column is bound to (terminating NUL included).
// Character columns get room for UTF-8: up to three bytes for each character
// the server counts. Integer columns get room for a sign.
std::int64_t textBufferSize(int sqlType, std::uint64_t precision);

// Whether a column's values are read whole however long: the long types,
// and character columns whose length the driver does not know (precision
// 0, as some servers describe nvarchar(max)).
bool readsWhole(int sqlType, std::uint64_t precision);

// Whether a column is bound as text for every fetched row: not binary or
// long text, and its buffer is at most 512 bytes.
bool isBoundColumn(int sqlType, std::int64_t bufferSize);

// The value of a column from its row's text (empty for NULL): a number
// from the text's leading digits for the integer types, a float for the
// floating types, a logical for bit, an empty binary for the binary types,
// the text itself for everything else.
FieldValue fromBoundText(int sqlType, const QByteArray& text);

// Days since 1899-12-30 with the time of day as fraction (below zero the
// fraction counts away from zero too), the days clamped to the years 100 to
// 9999.
double oleDays(int year, int month, int day, int hour, int minute, int second,
               std::uint32_t nanoseconds);

// At most `n` bytes of UTF-8 text, cut before a character that would not
// fit whole.
QByteArray utf8Prefix(const QByteArray& text, qsizetype n);

// UTF-8 text that was cut somewhere, without the incomplete character a cut
// may have left at its end.
QByteArray withoutBrokenTail(const QByteArray& text);

}  // namespace quill::db
