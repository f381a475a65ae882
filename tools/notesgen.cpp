// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a notes file for tests and benchmarks, or prints one as text.
//   notesgen write FILE COUNT [SEED [STRINGS]]
//   notesgen dump FILE
//   notesgen sample FILE      a few hand-written notes, for screenshots
#include "mainwindow/noterow.h"
#include "notesgenerator.h"
#include "persistence/notesfile.h"
#include "persistence/notesstore.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QFile>
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
        return saveNotesFile(args[2], generateShortRows(count, strings, seed)) ? 0 : 1;
    }
    if (args.size() == 3 && args[1] == QLatin1String("sample")) {
        const QDateTime base(QDate(2026, 12, 7), QTime(9, 15));
        const QList<QStringList> rows = {
            makeNoteRow(
                QStringLiteral("Groceries"),
                QStringLiteral("Milk, eggs, rye bread\nTomatoes (the small ones)\nCoffee beans"),
                base.addDays(-6)),
            makeNoteRow(QStringLiteral("Book club"),
                        QStringLiteral("Thursday at 7 PM at Anna's.\nBring the second volume and "
                                       "the list of questions from last time."),
                        base.addDays(-3).addSecs(4 * 3600)),
            makeNoteRow(QStringLiteral("Trip to Lisbon"),
                        QStringLiteral("Flights: 14 March, 08:40 out, 20 March back.\n\n"
                                       "To see:\n- Alfama and the castle\n- Tram 28\n"
                                       "- Belém: tower, monastery, pastéis\n\nPack: adapter, "
                                       "walking shoes, light jacket."),
                        base.addDays(-1).addSecs(2 * 3600 + 600)),
            makeNoteRow(QStringLiteral("Ideas"),
                        QStringLiteral("A bird feeder for the balcony. Learn the ukulele. "
                                       "Write to Grandma."),
                        base),
        };
        return saveNotesFile(args[2], rows) ? 0 : 1;
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
    out << "usage: notesgen write FILE COUNT [SEED [STRINGS]] | dump FILE | sample FILE\n";
    return 2;
}
