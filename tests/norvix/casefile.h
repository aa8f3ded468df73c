#ifndef CASEFILE_H
#define CASEFILE_H

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

// The cases of the tool's test, read from a text file. A case is a block of "key: value" lines
// ended by a blank line; '#' starts a comment line. Keys:
//   case:   the case's name
//   store:  "filled" (default) or "empty"
//   env:    "daemon" (default), "nodaemon" (a bus without the daemon), "nobus" or "failingstore"
//           (a store service on which every query of the feed store fails)
//   before: a condition (see the test) met before the run, such as a tool run or a signal
//   run:    the tool's arguments, split as a shell would (double quotes keep blanks)
//   status: the expected exit status
//   out:    a pattern of the tool's next line, whole; "..." stands for any number of lines
//   check:  a condition after the run (see the test)
// Values may name fixture values as {NAME}.
struct NorvixCase
{
    QString name;
    QString store = QStringLiteral("filled");
    QString env = QStringLiteral("daemon");
    QString run;
    int status = -1;
    QStringList before;
    QStringList out;
    QStringList checks;
    int line = 0;
};

Q_DECLARE_METATYPE(NorvixCase)

namespace CaseFile {

// The cases in file order; *error names the first malformed line.
QList<NorvixCase> read(const QString& path, QString* error);

// The text with each {NAME} replaced; patterns get the values escaped.
QString fill(const QString& text, const QMap<QString, QString>& values, bool pattern);

// Whether the lines match the patterns one to one, in order, "..." matching any run of lines.
bool linesMatch(const QStringList& lines, const QStringList& patterns);

} // namespace CaseFile

#endif
