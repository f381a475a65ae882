// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessionjournal.h"

#include "fileaccess.h"
#include "mainwindow/noterow.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#endif

#include <climits>
#include <memory>
#include <vector>

namespace {

constexpr char JournalStem[] = ".notes.dat.journal";
constexpr int MaxJournals = 100;
// What a journal may take beyond its own size while it is read.
constexpr sqlite3_int64 ReadingHeapCap = 32 << 20;

const char Schema[] = "CREATE TABLE session(id INTEGER PRIMARY KEY CHECK (id = 1),"
                      " base_exists INTEGER, base_size INTEGER, base_modified INTEGER,"
                      " base_inode INTEGER, saved_exists INTEGER, saved_size INTEGER,"
                      " saved_modified INTEGER, saved_inode INTEGER, list_seq INTEGER,"
                      " last_change INTEGER, set_aside INTEGER NOT NULL DEFAULT 0);"
                      "CREATE TABLE changes(seq INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
                      " position INTEGER NOT NULL, title BLOB, preview BLOB, date BLOB,"
                      " body BLOB);"
                      "CREATE TABLE list(position INTEGER PRIMARY KEY, title BLOB,"
                      " preview BLOB, date BLOB, body BLOB);"
                      "CREATE TABLE drafts(window INTEGER PRIMARY KEY, target INTEGER,"
                      " title BLOB, body BLOB, written INTEGER);";

// A prepared statement that finalizes itself.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void reset()
    {
        if (stmt)
            sqlite3_reset(stmt);
    }
    Statement &bind(int index, qint64 value)
    {
        if (stmt)
            sqlite3_bind_int64(stmt, index, value);
        return *this;
    }
    // UTF-16 units in this machine's byte order; NULL only for a null string.
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
    int step() { return stmt ? sqlite3_step(stmt) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    qint64 integer(int column) const { return sqlite3_column_int64(stmt, column); }
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

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// What every connection to a journal is set to, a recovery's as much as the session's
// own, before it reads anything: defensive, no extensions, triggers or views taken from
// the file, no checkpoint on close, and the exclusive lock, so that WAL needs no shared
// memory.
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

// Then WAL, with every commit synced.
bool configure(sqlite3 *db)
{
    return exec(db, "PRAGMA journal_mode=WAL") && exec(db, "PRAGMA synchronous=FULL") &&
           exec(db, "PRAGMA journal_size_limit=1048576");
}

QString walOf(const QString &journal)
{
    return journal + QLatin1String("-wal");
}

// The journal's files are handled with the system's own calls, never through a QFile that
// SQLite has open too: closing a QFile would drop the POSIX locks SQLite holds on it.
#ifdef Q_OS_WIN
std::wstring nativePath(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName).toStdWString();
}

// SQLite takes UTF-8 names on Windows.
QByteArray sqliteName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName).toUtf8();
}

bool exists(const QString &fileName)
{
    return ::GetFileAttributesW(nativePath(fileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

qint64 sizeOf(const QString &fileName)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(nativePath(fileName).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return qint64((quint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// True once the file is gone, whether removed now or never there.
bool removeFile(const QString &fileName)
{
    if (::DeleteFileW(nativePath(fileName).c_str()))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether the file, and its -wal if there is one, may be written.
bool writable(const QString &journal)
{
    for (const QString &name : {journal, walOf(journal)}) {
        const DWORD attributes = ::GetFileAttributesW(nativePath(name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            return false;
    }
    return true;
}

void renameFile(const QString &from, const QString &to)
{
    ::MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(), MOVEFILE_WRITE_THROUGH);
}

// A new, empty, hidden file that only its owner can read and write (Qt gives a new file an
// owner-only access list for these permissions), made before SQLite opens it. 0 if made,
// EEXIST if a file of that name is there, else the reason.
int createExclusive(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return exists(fileName) ? EEXIST : EACCES;
    file.close();
    ::SetFileAttributesW(nativePath(fileName).c_str(), FILE_ATTRIBUTE_HIDDEN);
    return 0;
}

// SQLite makes the -wal itself; it is hidden as its database is.
void hide(const QString &fileName)
{
    const std::wstring path = nativePath(fileName);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_HIDDEN))
        ::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}
#else
QByteArray sqliteName(const QString &fileName)
{
    return QFile::encodeName(fileName);
}

bool exists(const QString &fileName)
{
    struct stat info;
    return ::lstat(sqliteName(fileName).constData(), &info) == 0;
}

qint64 sizeOf(const QString &fileName)
{
    struct stat info;
    return ::stat(sqliteName(fileName).constData(), &info) == 0 ? qint64(info.st_size) : 0;
}

// True once the file is gone, whether removed now or never there.
bool removeFile(const QString &fileName)
{
    return ::unlink(sqliteName(fileName).constData()) == 0 || errno == ENOENT;
}

// Whether the file, and its -wal if there is one, may be written.
bool writable(const QString &journal)
{
    for (const QString &name : {journal, walOf(journal)}) {
        if (::access(sqliteName(name).constData(), W_OK) != 0 && errno != ENOENT)
            return false;
    }
    return true;
}

void renameFile(const QString &from, const QString &to)
{
    ::rename(sqliteName(from).constData(), sqliteName(to).constData());
}

// A new, empty file that only its owner can read and write, made before SQLite opens it.
// 0 if made, EEXIST if a file of that name is there, else the reason.
int createExclusive(const QString &fileName)
{
    const int fd =
        ::open(sqliteName(fileName).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

void hide(const QString &) {}
#endif

// The journal first, then its -wal: a -wal without its database would be replayed into
// the next journal of that name.
void removeFiles(const QString &journal)
{
    // A journal that cannot be removed stays whole.
    if (!removeFile(journal))
        return;
    removeFile(walOf(journal));
    syncFolderOf(journal, nullptr);
}

// The folder of rescued notes keeps the journal of a notes file whose own folder cannot
// take it, under a name made from the notes file's full path.
QString fallbackStem(const QString &notesFile)
{
    const QByteArray path = QFileInfo(notesFile).absoluteFilePath().toUtf8();
    return rescueDirectory() + QLatin1String("/notes-") +
           QString::fromLatin1(
               QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(16)) +
           QLatin1String(".journal");
}

QString numbered(const QString &stem, int number)
{
    return number == 0 ? stem : stem + QLatin1Char('-') + QString::number(number);
}

// Journals of this notes file in both places, with their numbers, whose databases exist.
// A -wal left without its database is removed on the way.
QStringList journalsOf(const QString &notesFile)
{
    QStringList found;
    const QString local = QFileInfo(notesFile).absoluteDir().filePath(QLatin1String(JournalStem));
    for (const QString &stem : {local, fallbackStem(notesFile)}) {
        const QFileInfo info(stem);
        const QStringList names = info.dir().entryList({info.fileName() + QLatin1Char('*')},
                                                       QDir::Files | QDir::Hidden | QDir::System);
        for (int number = 0; number < MaxJournals; ++number) {
            const QString name = numbered(info.fileName(), number);
            const bool database = names.contains(name);
            if (names.contains(name + QLatin1String("-wal")) && !database)
                removeFile(info.dir().filePath(name + QLatin1String("-wal")));
            if (database)
                found << info.dir().filePath(name);
        }
    }
    return found;
}

// Copies `from` into the new file `to`, which only its owner may read, and syncs it. Done
// before SQLite opens `to`.
bool copyInto(const QString &from, const QString &to)
{
    if (createExclusive(to) != 0)
        return false;
    QFile source(from);
    QFile target(to);
    bool copied = source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly);
    while (copied && !source.atEnd()) {
        const QByteArray chunk = source.read(1 << 20);
        copied = source.error() == QFileDevice::NoError && target.write(chunk) == chunk.size();
    }
    copied = copied && source.error() == QFileDevice::NoError && syncToDisk(target);
    target.close();
    if (!copied)
        removeFile(to);
    return copied;
}

// An exclusive WAL journal is read under a write lock, which a folder or file system that
// cannot be written does not give: such a journal is read from a copy in the folder of
// rescued notes, which goes on as the session's journal where it is replayed. The original
// is left as it is. Empty where no copy could be made.
QString copyToRescueFolder(const QString &journal, const QString &notesFile)
{
    if (!QDir().mkpath(rescueDirectory()))
        return QString();
    for (int number = 0; number < MaxJournals; ++number) {
        const QString name = numbered(fallbackStem(notesFile), number);
        if (exists(name) || exists(walOf(name)))
            continue;
        if (!copyInto(journal, name))
            return QString();
        if (exists(walOf(journal)) && !copyInto(walOf(journal), walOf(name))) {
            removeFile(name);
            return QString();
        }
        hide(name);
        hide(walOf(name));
        syncFolderOf(name, nullptr);
        return name;
    }
    return QString();
}

// Folders on network file systems take no reliable lock, so the journal goes elsewhere.
bool onNetworkFileSystem(const QString &folder)
{
#ifdef Q_OS_LINUX
    struct statfs info;
    if (::statfs(sqliteName(folder).constData(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x517B:     // SMB
    case 0x65735546: // FUSE (sshfs and the like)
        return true;
    }
#elif defined(Q_OS_WIN)
    // A mapped network drive, or a share reached by its UNC path.
    wchar_t volume[MAX_PATH + 1];
    if (::GetVolumePathNameW(nativePath(folder).c_str(), volume, MAX_PATH + 1))
        return ::GetDriveTypeW(volume) == DRIVE_REMOTE;
#else
    Q_UNUSED(folder);
#endif
    return false;
}

bool sameFile(const NotesFileStamp &a, const NotesFileStamp &b)
{
    // The device number may change across a reboot.
    return a.exists == b.exists &&
           (!a.exists || (a.size == b.size && a.modified == b.modified && a.inode == b.inode));
}

// Positions in a list under change, as a Fenwick tree over every row that was ever in it:
// finding the nth row still there and removing it each cost log n, so that a journal of
// many deletes is replayed in one pass. Rows are only ever added at the end.
class LiveRows
{
public:
    explicit LiveRows(int capacity) : tree(size_t(capacity) + 1, 0) {}
    void add()
    {
        const int index = ++count;
        for (int i = index; i < int(tree.size()); i += i & -i)
            ++tree[size_t(i)];
    }
    void removeAt(int slot)
    {
        for (int i = slot + 1; i < int(tree.size()); i += i & -i)
            --tree[size_t(i)];
    }
    int live() const { return prefix(count) - prefix(clearedBelow); }
    // The slot of the row at `position` among those live; -1 beyond the list.
    int slotAt(int position) const
    {
        if (position < 0 || position >= live())
            return -1;
        int wanted = position + 1 + prefix(clearedBelow);
        int index = 0;
        for (int step = highestBit(); step > 0; step >>= 1) {
            if (index + step < int(tree.size()) && tree[size_t(index + step)] < wanted) {
                index += step;
                wanted -= tree[size_t(index)];
            }
        }
        return index;
    }
    // Every row so far is gone; the tree keeps counting them, positions skip them.
    void removeAll() { clearedBelow = count; }
    int firstLiveSlot() const { return clearedBelow; }
    int ever() const { return count; }

private:
    int prefix(int index) const
    {
        int sum = 0;
        for (int i = index; i > 0; i -= i & -i)
            sum += tree[size_t(i)];
        return sum;
    }
    int highestBit() const
    {
        int bit = 1;
        while (bit * 2 < int(tree.size()))
            bit *= 2;
        return bit;
    }
    std::vector<int> tree;
    int count = 0;
    int clearedBelow = 0;
};

NotesFileStamp stampFrom(const Statement &query, int first)
{
    NotesFileStamp stamp;
    stamp.exists = query.integer(first) != 0;
    stamp.size = query.integer(first + 1);
    stamp.modified = query.integer(first + 2);
    stamp.inode = quint64(query.integer(first + 3));
    return stamp;
}

// One journal of a crashed session, open for reading and locked.
struct CrashedJournal
{
    QString path;
    sqlite3 *db = nullptr;
    bool database = false;
    bool intact = false;
    bool setAside = false;
    NotesFileStamp base;
    NotesFileStamp saved;
    qint64 listSeq = -1;
    qint64 lastChange = 0;

    ~CrashedJournal() { sqlite3_close(db); }
    // Done with: closed, and its files removed.
    void discard()
    {
        sqlite3_close(db);
        db = nullptr;
        removeFiles(path);
    }
};

// Opens and locks a journal. False, with `held`, when a running Quillora holds it.
bool openCrashed(CrashedJournal &journal, bool &held)
{
    held = false;
    const qint64 bytes = sizeOf(journal.path) + sizeOf(walOf(journal.path));
    // Memory for reading is bounded by a fixed cap and the file's size.
    sqlite3_hard_heap_limit64(ReadingHeapCap + bytes);
    if (sqlite3_open_v2(sqliteName(journal.path).constData(), &journal.db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK)
        return false;
    sqlite3_limit(journal.db, SQLITE_LIMIT_LENGTH,
                  int(qBound<qint64>(1024, bytes, qint64(1) << 30)));
    sqlite3_busy_timeout(journal.db, 0);
    if (!harden(journal.db))
        return false;
    // The exclusive lock, kept from here on.
    const int locked =
        sqlite3_exec(journal.db, "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr);
    if (locked == SQLITE_BUSY || locked == SQLITE_LOCKED) {
        held = true;
        return false;
    }
    if (locked != SQLITE_OK || !configure(journal.db))
        return false;
    journal.database = true;
    {
        Statement check(journal.db, "PRAGMA quick_check");
        journal.intact = check.step() == SQLITE_ROW && check.utf8(0) == "ok";
    }
    return true;
}

// Reads the journal's session row. False where it has none: a journal made by a session
// killed before its first change was committed holds nothing.
bool readSession(CrashedJournal &journal)
{
    Statement query(journal.db,
                    "SELECT base_exists, base_size, base_modified, base_inode, saved_exists,"
                    " saved_size, saved_modified, saved_inode, list_seq, last_change, set_aside"
                    " FROM session WHERE id = 1");
    if (query.step() != SQLITE_ROW)
        return false;
    journal.base = stampFrom(query, 0);
    journal.saved = stampFrom(query, 4);
    journal.listSeq = query.isNull(8) ? -1 : query.integer(8);
    journal.lastChange = query.integer(9);
    journal.setAside = query.integer(10) != 0;
    return true;
}

QList<SessionJournal::Draft> readDrafts(sqlite3 *db)
{
    QList<SessionJournal::Draft> drafts;
    Statement query(db, "SELECT window, target, title, body, written FROM drafts ORDER BY window");
    while (query.step() == SQLITE_ROW) {
        const qint64 window = query.integer(0);
        if (window != 0 && window != 1)
            continue;
        SessionJournal::Draft draft;
        draft.window = SessionJournal::Window(window);
        draft.target = int(qBound<qint64>(-1, query.integer(1), qint64(INT_MAX)));
        draft.title = query.text(2);
        draft.text = query.text(3);
        draft.written = QDateTime::fromMSecsSinceEpoch(query.integer(4));
        drafts << draft;
    }
    return drafts;
}

// Replays the changes onto the rows read, or onto the list the journal keeps where the
// session began to write notes.dat in place. False on a change that cannot be applied.
bool replay(sqlite3 *db, qint64 listSeq, int fileRows, QList<SessionJournal::Entry> &entries,
            int &changes)
{
    std::vector<SessionJournal::Entry> table;
    std::vector<bool> removed;
    if (listSeq >= 0) {
        Statement list(db, "SELECT title, preview, date, body FROM list ORDER BY position");
        int result;
        while ((result = list.step()) == SQLITE_ROW)
            table.push_back({-1, list.row(0)});
        if (result != SQLITE_DONE)
            return false;
    } else {
        table.reserve(size_t(fileRows));
        for (int i = 0; i < fileRows; ++i)
            table.push_back({i, QStringList()});
    }
    Statement inserts(db, "SELECT count(*) FROM changes WHERE kind = 0 AND seq > ?");
    inserts.bind(1, listSeq);
    if (inserts.step() != SQLITE_ROW)
        return false;
    const qint64 capacity = qint64(table.size()) + inserts.integer(0);
    if (capacity > INT_MAX / 2)
        return false;
    LiveRows live{int(capacity)};
    for (size_t i = 0; i < table.size(); ++i)
        live.add();
    removed.assign(size_t(capacity), false);

    Statement query(db, "SELECT kind, position, title, preview, date, body FROM changes"
                        " WHERE seq > ? ORDER BY seq");
    query.bind(1, listSeq);
    int result;
    changes = 0;
    while ((result = query.step()) == SQLITE_ROW) {
        const qint64 kind = query.integer(0);
        const qint64 position = query.integer(1);
        if (position < -1 || position > INT_MAX)
            return false;
        const int slot = live.slotAt(int(position));
        switch (SessionJournal::Change(kind)) {
        case SessionJournal::Change::Insert:
            // Rows are only ever added at the end of the list.
            if (position != live.live() || live.ever() >= capacity)
                return false;
            table.push_back({-1, query.row(2)});
            live.add();
            break;
        case SessionJournal::Change::Replace:
            if (slot < 0)
                return false;
            table[size_t(slot)] = {-1, query.row(2)};
            break;
        case SessionJournal::Change::Remove:
            if (slot < 0)
                return false;
            live.removeAt(slot);
            removed[size_t(slot)] = true;
            break;
        case SessionJournal::Change::RemoveAll:
            live.removeAll();
            break;
        default:
            return false;
        }
        ++changes;
    }
    if (result != SQLITE_DONE)
        return false;
    entries.clear();
    entries.reserve(live.live());
    for (int slot = live.firstLiveSlot(); slot < live.ever(); ++slot) {
        if (!removed[size_t(slot)])
            entries.append(std::move(table[size_t(slot)]));
    }
    return true;
}

// Every note the journal's session added or edited, in the order it did, and its drafts
// as notes: as much as can be read.
QList<QStringList> rescuableRows(sqlite3 *db)
{
    QList<QStringList> rows;
    for (const char *sql : {"SELECT title, preview, date, body FROM list ORDER BY position",
                            "SELECT title, preview, date, body FROM changes"
                            " WHERE kind IN (0, 1) ORDER BY seq"}) {
        Statement query(db, sql);
        while (query.step() == SQLITE_ROW)
            rows << query.row(0);
    }
    for (const SessionJournal::Draft &draft : readDrafts(db))
        rows << makeNoteRow(draft.title, draft.text, draft.written);
    return rows;
}

QString stampName()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// A journal that cannot be trusted is kept, never deleted: a database is marked inside,
// since it and its -wal cannot be renamed together; any other file is renamed.
void setAside(CrashedJournal &journal)
{
    if (journal.database && exec(journal.db, "UPDATE session SET set_aside = 1"))
        return;
    sqlite3_close(journal.db);
    journal.db = nullptr;
    const QString aside = journal.path + QLatin1String(".damaged-") + stampName();
    renameFile(journal.path, aside);
    renameFile(walOf(journal.path), walOf(aside));
    syncFolderOf(journal.path, nullptr);
}

} // namespace

SessionJournal::SessionJournal(const QString &notesFile) : notesFile(notesFile) {}

SessionJournal::~SessionJournal()
{
    // Closed without a checkpoint: the journal stays as it is for the next start.
    sqlite3_close(db);
}

SessionJournal::Recovery SessionJournal::recover(const NotesFileStamp &loaded, int fileRows)
{
    base = loaded;
    Recovery recovery;
    const QStringList paths = journalsOf(notesFile);
    if (paths.isEmpty())
        return recovery;

    std::vector<std::unique_ptr<CrashedJournal>> crashed;
    QList<QStringList> toRescue;
    QList<CrashedJournal *> rescued;
    for (const QString &found : paths) {
        auto journal = std::make_unique<CrashedJournal>();
        journal->path = found;
        if (!folderTakesNewFiles(found) || !writable(found)) {
            const QString copy = copyToRescueFolder(found, notesFile);
            if (!copy.isEmpty())
                journal->path = copy;
        }
        bool held = false;
        const bool opened = openCrashed(*journal, held);
        if (held)
            continue;
        if (opened && journal->intact && !readSession(*journal)) {
            journal->discard();
            continue;
        }
        if (!opened || !journal->intact) {
            if (journal->database)
                toRescue += rescuableRows(journal->db);
            setAside(*journal);
            recovery.setAside = true;
            continue;
        }
        if (journal->setAside)
            continue;
        // The save that this journal's session made reached the disk.
        if (journal->saved.exists && sameFile(journal->saved, loaded)) {
            journal->discard();
            continue;
        }
        crashed.push_back(std::move(journal));
    }

    // The journal changed last is replayed, if it belongs to the notes.dat read; of two
    // changed in the same millisecond, the one made later, which has the higher number.
    CrashedJournal *chosen = nullptr;
    for (const auto &journal : crashed) {
        if ((journal->listSeq >= 0 || sameFile(journal->base, loaded)) &&
            (!chosen || journal->lastChange >= chosen->lastChange))
            chosen = journal.get();
    }
    if (chosen) {
        if (replay(chosen->db, chosen->listSeq, fileRows, recovery.entries, recovery.changes)) {
            recovery.replayed = true;
            recovery.drafts = readDrafts(chosen->db);
            recovery.lastChange = QDateTime::fromMSecsSinceEpoch(chosen->lastChange);
            // It goes on as this session's journal, so a second crash loses nothing.
            db = chosen->db;
            chosen->db = nullptr;
            path = chosen->path;
            base = chosen->base;
            for (const Draft &draft : recovery.drafts)
                draftStored[int(draft.window)] = true;
        } else {
            recovery.entries.clear();
            toRescue += rescuableRows(chosen->db);
            setAside(*chosen);
            recovery.setAside = true;
        }
    }
    for (const auto &journal : crashed) {
        if (journal.get() == chosen || !journal->db)
            continue;
        toRescue += rescuableRows(journal->db);
        rescued << journal.get();
        if (!recovery.lastChange.isValid() ||
            journal->lastChange > recovery.lastChange.toMSecsSinceEpoch())
            recovery.lastChange = QDateTime::fromMSecsSinceEpoch(journal->lastChange);
    }
    if (!toRescue.isEmpty()) {
        recovery.rescueFile =
            rescueNotes(toRescue, QDateTime::currentDateTime(), &recovery.rescueReason);
    }
    // Recovery data is never deleted unread, nor before it is safe elsewhere.
    if (!recovery.rescueFile.isEmpty() || toRescue.isEmpty()) {
        for (CrashedJournal *journal : rescued)
            journal->discard();
    }
    crashed.clear();
    sqlite3_hard_heap_limit64(0);
    if (db)
        sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000000000);
    return recovery;
}

bool SessionJournal::fail(const char *what)
{
    if (!failed) {
        failed = true;
        qWarning("Quillora: the session journal %s could not be written (%s: %s); from now "
                 "on changes are kept only until Quillora is left",
                 qUtf8Printable(QDir::toNativeSeparators(path)), what,
                 db ? sqlite3_errmsg(db) : "not opened");
    }
    if (db)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SessionJournal::open(const NotesFileStamp &stamp)
{
    const QString folder = QFileInfo(notesFile).absolutePath();
    QStringList stems;
    if (!onNetworkFileSystem(folder))
        stems << QDir(folder).filePath(QLatin1String(JournalStem));
    stems << fallbackStem(notesFile);
    int why = 0;
    for (const QString &stem : std::as_const(stems)) {
        if (stem.startsWith(rescueDirectory()) && !QDir().mkpath(rescueDirectory()))
            continue;
        for (int number = 0; number < MaxJournals && path.isEmpty(); ++number) {
            const QString name = numbered(stem, number);
            if (!exists(name) && exists(walOf(name)))
                removeFile(walOf(name));
            const int made = createExclusive(name);
            if (made == 0) {
                path = name;
            } else if (made != EEXIST) {
                why = made;
                break;
            }
        }
        if (!path.isEmpty())
            break;
    }
    if (path.isEmpty()) {
        failed = true;
        qWarning("Quillora: no session journal could be made beside %s nor in %s (%s); "
                 "changes are kept only until Quillora is left",
                 qUtf8Printable(QDir::toNativeSeparators(QFileInfo(notesFile).absoluteFilePath())),
                 qUtf8Printable(QDir::toNativeSeparators(rescueDirectory())),
                 qUtf8Printable(qt_error_string(why)));
        return false;
    }
    if (sqlite3_open_v2(sqliteName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK ||
        !harden(db) || !configure(db))
        return fail("opening");
    if (!begin() || !exec(db, Schema))
        return fail("making");
    Statement session(db, "INSERT INTO session(id, base_exists, base_size, base_modified,"
                          " base_inode, last_change) VALUES (1, ?, ?, ?, ?, ?)");
    session.bind(1, stamp.exists)
        .bind(2, stamp.size)
        .bind(3, stamp.modified)
        .bind(4, qint64(stamp.inode))
        .bind(5, QDateTime::currentMSecsSinceEpoch());
    if (!session.run() || !commit())
        return fail("making");
    hide(walOf(path));
    // The journal and its -wal are found under their names after a power cut.
    if (!syncFolderOf(path, nullptr))
        return fail("syncing its folder");
    return true;
}

bool SessionJournal::begin()
{
    return exec(db, "BEGIN IMMEDIATE");
}

bool SessionJournal::commit()
{
    return exec(db, "COMMIT");
}

bool SessionJournal::recordChange(Change change, int position, const QStringList &row,
                                  const Window *done)
{
    if (failed || (!db && !open(base)))
        return false;
    if (!begin())
        return fail("recording a change");
    Statement insert(db, "INSERT INTO changes(kind, position, title, preview, date, body)"
                         " VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, qint64(change)).bind(2, position);
    if (change == Change::Insert || change == Change::Replace)
        insert.bindRow(3, row);
    bool ok = insert.run();
    Statement touched(db, "UPDATE session SET last_change = ?");
    ok = ok && touched.bind(1, QDateTime::currentMSecsSinceEpoch()).run();
    // The note an Edit Note draft belongs to moves up with each delete above it, and is
    // gone with its own.
    if (ok && change == Change::Remove && draftStored[int(Window::EditNote)]) {
        Statement target(db, "UPDATE drafts SET target = CASE WHEN target = ?1 THEN -1"
                             " WHEN target > ?1 THEN target - 1 ELSE target END"
                             " WHERE window = 1 AND target >= 0");
        ok = target.bind(1, position).run();
    } else if (ok && change == Change::RemoveAll && draftStored[int(Window::EditNote)]) {
        ok = exec(db, "UPDATE drafts SET target = -1 WHERE window = 1");
    }
    if (ok && done && draftStored[int(*done)]) {
        Statement cleared(db, "DELETE FROM drafts WHERE window = ?");
        ok = cleared.bind(1, qint64(*done)).run();
    }
    if (!ok || !commit())
        return fail("recording a change");
    if (done)
        draftStored[int(*done)] = false;
    return true;
}

bool SessionJournal::recordDraft(const Draft &draft)
{
    if (draft.window == Window::NewNote && draft.title.isEmpty() && draft.text.isEmpty())
        return clearDraft(draft.window);
    if (failed || (!db && !open(base)))
        return false;
    Statement insert(db, "INSERT OR REPLACE INTO drafts(window, target, title, body, written)"
                         " VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, qint64(draft.window))
        .bind(2, draft.target)
        .bind(3, draft.title)
        .bind(4, draft.text)
        .bind(5, QDateTime::currentMSecsSinceEpoch());
    if (!insert.run())
        return fail("recording a draft");
    draftStored[int(draft.window)] = true;
    return true;
}

bool SessionJournal::clearDraft(Window window)
{
    if (failed || !db || !draftStored[int(window)])
        return !failed;
    Statement cleared(db, "DELETE FROM drafts WHERE window = ?");
    if (!cleared.bind(1, qint64(window)).run())
        return fail("clearing a draft");
    draftStored[int(window)] = false;
    return true;
}

bool SessionJournal::recordList(const QList<QStringList> &rows)
{
    if (failed || (!db && !open(base)))
        return false;
    if (!begin() || !exec(db, "DELETE FROM list"))
        return fail("recording the list");
    Statement insert(db, "INSERT INTO list(position, title, preview, date, body)"
                         " VALUES (?, ?, ?, ?, ?)");
    for (int i = 0; i < rows.size(); ++i) {
        if (!insert.bind(1, i).bindRow(2, rows.at(i)).run())
            return fail("recording the list");
        insert.reset();
    }
    if (!exec(db, "UPDATE session SET list_seq = (SELECT coalesce(max(seq), 0) FROM changes)") ||
        !commit())
        return fail("recording the list");
    return true;
}

bool SessionJournal::recordSaved(const NotesFileStamp &stamp)
{
    if (failed || !db)
        return false;
    Statement saved(db, "UPDATE session SET saved_exists = ?, saved_size = ?, saved_modified = ?,"
                        " saved_inode = ?");
    saved.bind(1, stamp.exists)
        .bind(2, stamp.size)
        .bind(3, stamp.modified)
        .bind(4, qint64(stamp.inode));
    return saved.run() || fail("recording the save");
}

void SessionJournal::remove()
{
    if (!db)
        return;
    sqlite3_close(db);
    db = nullptr;
    removeFiles(path);
    path.clear();
}
