#include "db/CMRecordSet.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <QString>

#include <algorithm>

#include "db/ColumnValues.h"

namespace quill::db::odbc {

namespace {

constexpr SQLSMALLINT kMaxColumnName = 256;

template <class F>
SQLRETURN untilDone(F&& call) {
    SQLRETURN rc;
    do
        rc = call();
    while (rc == SQL_STILL_EXECUTING);
    return rc;
}

}  // namespace

CMRecordSet::CMRecordSet(SQLHSTMT statement) : statement_(statement) {}

CMRecordSet::~CMRecordSet() {
    release();
}

void CMRecordSet::release() {
    if (statement_ != SQL_NULL_HSTMT)
        SQLFreeStmt(statement_, SQL_DROP);
    statement_ = SQL_NULL_HSTMT;
}

bool CMRecordSet::describe() {
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(statement_, &count)) || count <= 0)
        return false;
    columns_.resize(size_t(count));
    int boundCount = 0;
    for (SQLUSMALLINT i = 0; i < SQLUSMALLINT(count); ++i) {
        Column& c = columns_[i];
        // Names in UTF-16, past the driver manager's locale conversions.
        SQLWCHAR name[kMaxColumnName + 1] = {};
        SQLSMALLINT nameLength = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(statement_, SQLUSMALLINT(i + 1), name,
                                           kMaxColumnName + 1, &nameLength, &c.sqlType,
                                           &c.precision, &c.scale, &c.nullable)))
            return false;
        c.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(name),
                                    std::clamp<int>(nameLength, 0, kMaxColumnName))
                     .toUtf8();
        c.bufferSize = textBufferSize(c.sqlType, c.precision);
        c.whole = readsWhole(c.sqlType, c.precision);
        if (!c.whole && isBoundColumn(c.sqlType, c.bufferSize))
            c.bound = boundCount++;
    }
    // Every buffer is in place before its address goes to the driver.
    bound_.resize(size_t(boundCount));
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        if (c.bound < 0)
            continue;
        BoundText& b = bound_[size_t(c.bound)];
        b.buffer.assign(size_t(c.bufferSize), '\0');
        if (!SQL_SUCCEEDED(SQLBindCol(statement_, SQLUSMALLINT(i + 1), SQL_C_CHAR, b.buffer.data(),
                                      SQLLEN(b.buffer.size()), &b.indicator)))
            return false;
    }
    return true;
}

bool CMRecordSet::open() {
    for (;;) {
        const SQLRETURN rc = untilDone([&] { return SQLFetch(statement_); });
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            // The first row is the result's; a failure after it only ends
            // the rows, as a walk to the end would.
            if (recordCount_ == 0)
                return false;
            break;
        }
        for (int column = 0; column < columnCount(); ++column)
            values_.push_back(readCurrent(column));
        ++recordCount_;
    }
    // Whatever else the batch answered is read off the connection here:
    // freeing a statement with unread results would cost a cancel and its
    // round trip.
    while (SQL_SUCCEEDED(untilDone([&] { return SQLMoreResults(statement_); }))) {
    }
    release();
    bound_.clear();
    return true;
}

void CMRecordSet::moveNext() {
    if (!atEnd())
        ++current_;
}

int CMRecordSet::columnIndex(const QByteArray& name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].name == name)
            return int(i);
    return -1;
}

FieldValue CMRecordSet::read(int column) const {
    if (atEnd())
        return fromBoundText(columns_[size_t(column)].sqlType, {});
    return values_[size_t(current_ * columnCount() + column)];
}

// A NULL, empty or unreadable value is taken from the row's bound text.
FieldValue CMRecordSet::readCurrent(int column) {
    const Column& c = columns_[size_t(column)];
    if (std::optional<FieldValue> v = readData(c, column))
        return *v;
    return fromBoundText(c.sqlType, boundText(c));
}

QByteArray CMRecordSet::boundText(const Column& c) const {
    if (c.bound < 0)
        return {};
    const BoundText& b = bound_[size_t(c.bound)];
    if (b.indicator == SQL_NULL_DATA)
        return {};
    const qsizetype room = qsizetype(b.buffer.size()) - 1;
    if (b.indicator >= 0 && b.indicator <= room)
        return QByteArray(b.buffer.data(), b.indicator);
    return withoutBrokenTail(QByteArray(b.buffer.data(), qstrnlen(b.buffer.data(), size_t(room))));
}

std::optional<FieldValue> CMRecordSet::readData(const Column& c, int column) {
    switch (c.sqlType) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_BIGINT:
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
            if (auto t = readBytes(column, SQL_C_CHAR, c.bufferSize, c.whole))
                return FieldValue::text(*t);
            return std::nullopt;
        case SQL_INTEGER:
            if (auto v = readFixed<SQLINTEGER>(column, SQL_C_SLONG))
                return FieldValue::int32(*v);
            return std::nullopt;
        case SQL_SMALLINT:
            if (auto v = readFixed<SQLSMALLINT>(column, SQL_C_SSHORT))
                return FieldValue::int16(*v);
            return std::nullopt;
        case SQL_TINYINT:
            if (auto v = readFixed<SQLCHAR>(column, SQL_C_UTINYINT))
                return FieldValue::byte(*v);
            return std::nullopt;
        case SQL_REAL:
            if (auto v = readFixed<SQLREAL>(column, SQL_C_FLOAT))
                return FieldValue::real(*v);
            return std::nullopt;
        case SQL_FLOAT:
        case SQL_DOUBLE:
            if (auto v = readFixed<SQLDOUBLE>(column, SQL_C_DOUBLE))
                return FieldValue::dbl(*v);
            return std::nullopt;
        case SQL_BIT:
            if (auto v = readFixed<SQLCHAR>(column, SQL_C_BIT))
                return FieldValue::logical(*v != 0);
            return std::nullopt;
        case SQL_DATE:
        case SQL_TIME:
        case SQL_TIMESTAMP:
        case SQL_TYPE_DATE:
        case SQL_TYPE_TIME:
        case SQL_TYPE_TIMESTAMP:
            if (auto t = readFixed<SQL_TIMESTAMP_STRUCT>(column, SQL_C_TIMESTAMP))
                return FieldValue::dateTime(
                    oleDays(t->year, t->month, t->day, t->hour, t->minute, t->second, t->fraction));
            return std::nullopt;
        case SQL_BINARY:
        case SQL_VARBINARY:
            if (auto b = readBytes(column, SQL_C_BINARY, std::int64_t(c.precision), false))
                return FieldValue::binary(*b);
            return std::nullopt;
        case SQL_LONGVARBINARY:
            if (auto b = readBytes(column, SQL_C_BINARY, 1, true))
                return FieldValue::binary(*b);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

template <class T>
std::optional<T> CMRecordSet::readFixed(int column, SQLSMALLINT cType) {
    T value{};
    SQLLEN indicator = 0;
    SQLRETURN rc = untilDone([&] {
        return SQLGetData(statement_, SQLUSMALLINT(column + 1), cType, &value, sizeof value,
                          &indicator);
    });
    if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA)
        return std::nullopt;
    return value;
}

// Reads into a buffer of `bufferSize` bytes; a longer value is cut there,
// unless `whole` asks for all of it.
std::optional<QByteArray> CMRecordSet::readBytes(int column, SQLSMALLINT cType,
                                                 std::int64_t bufferSize, bool whole) {
    const qsizetype terminator = cType == SQL_C_CHAR ? 1 : 0;
    std::vector<char> buffer(size_t(std::max<std::int64_t>(bufferSize, terminator + 1)));
    QByteArray value;
    bool cut = false;
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = untilDone([&] {
            return SQLGetData(statement_, SQLUSMALLINT(column + 1), cType, buffer.data(),
                              SQLLEN(buffer.size()), &indicator);
        });
        if (rc == SQL_NO_DATA && !value.isEmpty())
            break;  // a whole read is complete
        if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA)
            return std::nullopt;
        const qsizetype room = qsizetype(buffer.size()) - terminator;
        const bool more = indicator == SQL_NO_TOTAL || indicator > room;
        value.append(buffer.data(), more ? room : qsizetype(indicator));
        if (!more)
            break;
        if (!whole) {
            cut = true;
            break;
        }
        // The rest arrives by further calls; grow to what the driver reports.
        const std::int64_t rest =
            indicator == SQL_NO_TOTAL ? std::int64_t(buffer.size()) * 2 : indicator - room;
        buffer.resize(size_t(std::max<std::int64_t>(rest + terminator, buffer.size())));
    }
    if (value.isEmpty())
        return std::nullopt;
    return cut && cType == SQL_C_CHAR ? withoutBrokenTail(value) : value;
}

}  // namespace quill::db::odbc
