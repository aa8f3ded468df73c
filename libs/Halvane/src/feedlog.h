#ifndef FEEDLOG_H
#define FEEDLOG_H

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// One log macro for the whole system. A line carries the category word, the unit's source
// path, the line number, the full signature and the short name, each on a line of its own,
// then the message; values follow as the Qt debug stream writes them.
//
//     FEED_LOG(debug, "Engine") << "Copy settings:" << copied;
//
// The level is debug, warning or critical. A level that the default logging category has
// switched off (the logger does so for levels it drops) costs one test: the line is never
// built. A unit whose log lines must name another path than its own defines FEED_LOG_SOURCE
// before including this header.

namespace FeedLog {

const QtMsgType debugType = QtDebugMsg;
const QtMsgType warningType = QtWarningMsg;
const QtMsgType criticalType = QtCriticalMsg;

inline bool enabled(QtMsgType type)
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    return !category || category->isEnabled(type);
}

inline QString sourcePath(const char* file)
{
    QString path = QString::fromUtf8(file);
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > path.lastIndexOf(QLatin1Char('/')))
        path.truncate(dot);
    return path;
}

inline QDebug begin(QDebug stream, const char* category, const QString& source, int line,
                    const char* signature, const char* function)
{
    stream.nospace().noquote() << category << '\n' << source << '\n' << line << '\n'
                               << signature << '\n' << function << '\n';
    stream.setAutoInsertSpaces(true);
    return stream.quote();
}

} // namespace FeedLog

#ifndef FEED_LOG_SOURCE
#define FEED_LOG_SOURCE FeedLog::sourcePath(__FILE__)
#endif

#define FEED_LOG(level, category)                                                                  \
    for (bool feedLogOn = FeedLog::enabled(FeedLog::level##Type); feedLogOn; feedLogOn = false)    \
    FeedLog::begin(QMessageLogger(__FILE__, __LINE__, Q_FUNC_INFO).level(), category,              \
                   QString(FEED_LOG_SOURCE), __LINE__, Q_FUNC_INFO, __func__)

#endif
