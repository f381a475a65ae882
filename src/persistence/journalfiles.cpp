// SPDX-License-Identifier: GPL-3.0-or-later
#include "journalfiles.h"

#include "fileaccess.h"
#include "notesstore.h"
#include "sqlitestatement.h"

#include <QCryptographicHash>
#include <QFileInfo>

QString numbered(const QString &stem, int number)
{
    return number == 0 ? stem : stem + QLatin1Char('-') + QString::number(number);
}

QString notesFileIdentity(const QString &notesFile)
{
    const QFileInfo info(notesFile);
    return canonicalFolder(info.absolutePath()) + QLatin1Char('/') + info.fileName();
}

QString fallbackStem(const QString &notesFile, bool canonical)
{
    const QByteArray path =
        (canonical ? notesFileIdentity(notesFile) : QFileInfo(notesFile).absoluteFilePath())
            .toUtf8();
    return rescueDirectory() + QLatin1String("/notes-") +
           QString::fromLatin1(
               QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(16)) +
           QLatin1String(".journal");
}

bool harden(sqlite3 *db)
{
    int unused = 0;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &unused);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, &unused);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &unused);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, &unused);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &unused);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &unused);
    return exec(db, "PRAGMA locking_mode=EXCLUSIVE");
}

bool configure(sqlite3 *db)
{
    return exec(db, "PRAGMA journal_mode=WAL") && exec(db, "PRAGMA synchronous=FULL") &&
           exec(db, "PRAGMA journal_size_limit=1048576");
}

void removeJournal(sqlite3 *&db, const QString &journal)
{
    const bool whileLocked = openFilesRemovable();
    if (!whileLocked) {
        sqlite3_close(db);
        db = nullptr;
    }
    // A journal that cannot be removed stays whole.
    if (removeFile(journal)) {
        removeFile(walOf(journal));
        syncFolderOf(journal, nullptr);
    }
    sqlite3_close(db);
    db = nullptr;
}
