#pragma once

#include <sql.h>

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

#include "db/FieldValue.h"

namespace quill::db::odbc {

// One result of a statement, read whole when it is opened: the statement
// runs once as a plain batch and its rows arrive in that one answer, so the
// number of round trips does not grow with the rows. The record set keeps
// every row's values, so its row count is known from the start.
//
// Values are read as the column's SQL type asks (see read()); the short
// columns are also bound as text, which stands in for a NULL, empty or
// unreadable value.
class CMRecordSet {
public:
    struct Column {
        QByteArray name;
        SQLSMALLINT sqlType = 0;
        SQLULEN precision = 0;
        SQLSMALLINT scale = 0;
        SQLSMALLINT nullable = 0;
        std::int64_t bufferSize = 0;
        bool whole = false;  // read whole however long (long types, unknown length)
        int bound = -1;      // index into the bound texts, -1 when not bound
    };

    // Takes over the statement handle, which has been executed.
    explicit CMRecordSet(SQLHSTMT statement);
    ~CMRecordSet();
    CMRecordSet(const CMRecordSet&) = delete;
    CMRecordSet& operator=(const CMRecordSet&) = delete;

    // Describes the result and binds its short columns. False when the
    // statement produced no result set.
    bool describe();
    // Reads every row, then lets the statement go. False when the first
    // fetch fails; a failure after that ends the rows read so far.
    bool open();

    // The next row; past the last one the record set is at its end, where
    // it stays.
    void moveNext();
    bool atEnd() const { return current_ >= recordCount_; }
    std::int64_t recordCount() const { return recordCount_; }

    int columnCount() const { return int(columns_.size()); }
    // The index of the first column named exactly so, or -1.
    int columnIndex(const QByteArray& name) const;
    // The value of a column (0-based) in the current row. At the end every
    // column reads as the empty value of its kind.
    FieldValue read(int column) const;

private:
    FieldValue readCurrent(int column);
    std::optional<FieldValue> readData(const Column& c, int column);
    std::optional<QByteArray> readBytes(int column, SQLSMALLINT cType, std::int64_t bufferSize,
                                        bool whole);
    template <class T>
    std::optional<T> readFixed(int column, SQLSMALLINT cType);
    QByteArray boundText(const Column& c) const;
    void release();

    struct BoundText {
        std::vector<char> buffer;
        SQLLEN indicator = SQL_NULL_DATA;
    };

    SQLHSTMT statement_;
    std::vector<Column> columns_;
    std::vector<BoundText> bound_;
    // Row after row, columnCount() values each.
    std::vector<FieldValue> values_;
    std::int64_t recordCount_ = 0;
    std::int64_t current_ = 0;
};

}  // namespace quill::db::odbc
