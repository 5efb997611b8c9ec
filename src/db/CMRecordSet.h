#pragma once

#include <sql.h>

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

#include "db/FieldValue.h"

namespace quill::db::odbc {

// One open result of a statement: a static, read-only, scrollable cursor
// fetched one row at a time, its columns described and the short ones bound
// as text. Owns its statement handle.
class CMRecordSet {
public:
    struct Column {
        QByteArray name;
        SQLSMALLINT sqlType = 0;
        SQLULEN precision = 0;
        SQLSMALLINT scale = 0;
        SQLSMALLINT nullable = 0;
        std::int64_t bufferSize = 0;
        int bound = -1;  // index into the bound texts, -1 when not bound
    };

    CMRecordSet(SQLHSTMT statement, QByteArray text);
    ~CMRecordSet();
    CMRecordSet(const CMRecordSet&) = delete;
    CMRecordSet& operator=(const CMRecordSet&) = delete;

    SQLHSTMT statement() const { return statement_; }
    const QByteArray& text() const { return text_; }

    // Describes the result and binds its short columns. False when the
    // statement produced no result set.
    bool describe();
    // Fetches the first row, counts the rows by fetching to the end, and
    // goes back to the first row. False when the first fetch fails.
    bool open();
    // The next row; past the last one the record set is at its end, where
    // it stays. Errors leave it as it was.
    void moveNext();
    bool atEnd() const { return atEnd_; }
    // The rows the opening walk saw.
    std::int64_t recordCount() const { return recordCount_; }

    int columnCount() const { return int(columns_.size()); }
    // The index of the first column named exactly so, or -1.
    int columnIndex(const QByteArray& name) const;
    // The value of a column (0-based) in the current row. A NULL, empty or
    // unreadable value is taken from the row's bound text; at the end every
    // column reads as the empty value of its kind.
    FieldValue read(int column);

private:
    SQLRETURN fetch(SQLUSMALLINT orientation);
    std::optional<FieldValue> readData(const Column& c, int column);
    std::optional<QByteArray> readBytes(int column, SQLSMALLINT cType, std::int64_t bufferSize,
                                        bool whole);
    template <class T>
    std::optional<T> readFixed(int column, SQLSMALLINT cType);
    QByteArray boundText(const Column& c) const;

    struct BoundText {
        std::vector<char> buffer;
        SQLLEN indicator = SQL_NULL_DATA;
    };

    SQLHSTMT statement_;
    QByteArray text_;
    std::vector<Column> columns_;
    std::vector<BoundText> bound_;
    bool atEnd_ = true;
    std::int64_t recordCount_ = 0;
};

}  // namespace quill::db::odbc
