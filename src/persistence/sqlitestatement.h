// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mainwindow/noterow.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// A prepared statement of the session journal that finalizes itself. Strings are bound and
// read as BLOBs of UTF-16 units in this machine's byte order, SQL NULL only for a null
// string, so that every string comes back exactly as it went in.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql, unsigned flags = 0)
    {
        if (sqlite3_prepare_v3(db, sql, -1, flags, &stmt, nullptr) != SQLITE_OK)
            stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Ready to be bound and run again, with no string of an earlier run bound.
    void reset()
    {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
    Statement &bind(int index, qint64 value)
    {
        if (stmt)
            sqlite3_bind_int64(stmt, index, value);
        return *this;
    }
    Statement &bind(int index, const QString &text)
    {
        if (!stmt)
            return *this;
        if (text.isNull())
            sqlite3_bind_null(stmt, index);
        else if (text.isEmpty())
            sqlite3_bind_zeroblob(stmt, index, 0);
        else
            sqlite3_bind_blob64(stmt, index, text.constData(), sqlite3_uint64(text.size()) * 2,
                                SQLITE_STATIC);
        return *this;
    }
    Statement &bindRow(int first, const QStringList &row)
    {
        for (int column = 0; column < NoteColumnCount; ++column)
            bind(first + column, row.value(column));
        return *this;
    }
    bool prepared() const { return stmt; }
    int step() { return stmt ? sqlite3_step(stmt) : SQLITE_ERROR; }
    // Runs a statement that returns no rows; reset afterwards, so that nothing it was
    // bound to is used again.
    bool run()
    {
        const bool done = step() == SQLITE_DONE;
        reset();
        return done;
    }
    qint64 integer(int column) const { return sqlite3_column_int64(stmt, column); }
    qint64 bytes(int column) const { return sqlite3_column_bytes(stmt, column); }
    bool isNull(int column) const { return sqlite3_column_type(stmt, column) == SQLITE_NULL; }
    QString text(int column) const
    {
        if (isNull(column))
            return QString();
        const void *bytes = sqlite3_column_blob(stmt, column);
        const int size = sqlite3_column_bytes(stmt, column);
        if (!bytes || size < 2)
            return QString(QLatin1String(""));
        QString value(size / 2, Qt::Uninitialized);
        std::memcpy(value.data(), bytes, size_t(size / 2) * 2);
        return value;
    }
    QByteArray utf8(int column) const
    {
        return QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)));
    }
    QStringList row(int first) const
    {
        QStringList strings;
        for (int column = 0; column < NoteColumnCount; ++column)
            strings << text(first + column);
        return strings;
    }

private:
    sqlite3_stmt *stmt = nullptr;
};

// The statements that a connection runs again and again, each prepared once, the first time
// it is asked for; one that failed to prepare (an I/O error while the schema was read) is
// prepared again the next time. They are finalized before the connection closes.
class PreparedStatements
{
public:
    Statement &get(sqlite3 *db, const char *sql)
    {
        for (auto &prepared : statements) {
            if (prepared.first != sql)
                continue;
            if (!prepared.second->prepared())
                prepared.second = std::make_unique<Statement>(db, sql, SQLITE_PREPARE_PERSISTENT);
            return *prepared.second;
        }
        statements.emplace_back(sql,
                                std::make_unique<Statement>(db, sql, SQLITE_PREPARE_PERSISTENT));
        return *statements.back().second;
    }
    void clear() { statements.clear(); }

private:
    std::vector<std::pair<const char *, std::unique_ptr<Statement>>> statements;
};

inline bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}
