// Writes a notes file for tests and benchmarks, or prints one as text.
//   notesgen write FILE COUNT [SEED [STRINGS]]
//   notesgen dump FILE
#include "notesgenerator.h"
#include "persistence/notesfile.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream out(stdout);
    if (args.size() >= 4 && args[1] == QLatin1String("write")) {
        const int count = args[3].toInt();
        const quint32 seed = args.size() > 4 ? args[4].toUInt() : 1;
        const int strings = args.size() > 5 ? args[5].toInt() : 4;
        QSaveFile file(args[2]);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QDataStream stream(&file);
        stream.setVersion(QDataStream::Qt_4_6);
        writeNoteRows(stream, generateShortRows(count, strings, seed));
        return file.commit() ? 0 : 1;
    }
    if (args.size() == 3 && args[1] == QLatin1String("dump")) {
        QFile file(args[2]);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        QDataStream stream(&file);
        stream.setVersion(QDataStream::Qt_4_6);
        QList<QStringList> rows;
        const bool whole = readNoteRowsChecked(stream, rows) == NotesReadResult::Whole;
        out << "rows " << rows.size() << (whole ? " whole" : " partial") << '\n';
        for (const QStringList &row : rows) {
            QStringList cells;
            for (const QString &cell : row)
                cells << (cell.isNull() ? QStringLiteral("<null>") : cell);
            out << cells.join(QLatin1String(" | ")).replace(u'\n', QLatin1String("\\n")) << '\n';
        }
        return 0;
    }
    out << "usage: notesgen write FILE COUNT [SEED [STRINGS]] | notesgen dump FILE\n";
    return 2;
}
