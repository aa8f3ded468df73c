#include "qstlogger.h"

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QSettings>

#include <cstdio>

namespace {

const QtMsgType Levels[] = {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg};

struct LoggerState {
    QMutex mutex;
    int minimumLevel = 0;
    FILE* output = stderr;
    // The local time of the current second, formatted: the zone is read once a second,
    // not for every line.
    qint64 second = -1;
    QByteArray secondText;
    bool enabledBefore[sizeof(Levels) / sizeof(*Levels)] = {true, true, true, true};
};

LoggerState& state()
{
    static LoggerState loggerState;
    return loggerState;
}

int severity(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 0;
    case QtInfoMsg: return 1;
    case QtWarningMsg: return 2;
    case QtCriticalMsg: return 3;
    case QtFatalMsg: return 4;
    }
    return 4;
}

int levelFromName(const QString& name)
{
    static const QStringList names = {QStringLiteral("debug"), QStringLiteral("info"),
                                      QStringLiteral("warning"), QStringLiteral("critical")};
    const int level = names.indexOf(name.trimmed().toLower());
    return level < 0 ? 0 : level;
}

const char* tag(QtMsgType type)
{
    static const char* const tags[] = {"D", "I", "W", "C", "F"};
    return tags[severity(type)];
}

QByteArray timeText(LoggerState& logger)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now / 1000 != logger.second) {
        logger.second = now / 1000;
        logger.secondText = QDateTime::fromMSecsSinceEpoch(logger.second * 1000)
                                .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
                                .toUtf8();
    }
    return logger.secondText + '.' + QByteArray::number(now % 1000 + 1000).right(3);
}

// Levels the logger drops are switched off in Qt's default category, so that a line of such
// a level is not even built; the category's own states come back when the logger goes.
void enableLevels(LoggerState& logger)
{
    QLoggingCategory* category = QLoggingCategory::defaultCategory();
    if (!category)
        return;
    for (int i = 0; i < int(sizeof(Levels) / sizeof(*Levels)); ++i) {
        logger.enabledBefore[i] = category->isEnabled(Levels[i]);
        category->setEnabled(Levels[i], logger.enabledBefore[i] && severity(Levels[i]) >= logger.minimumLevel);
    }
}

void restoreLevels(const LoggerState& logger)
{
    QLoggingCategory* category = QLoggingCategory::defaultCategory();
    if (!category)
        return;
    for (int i = 0; i < int(sizeof(Levels) / sizeof(*Levels)); ++i)
        category->setEnabled(Levels[i], logger.enabledBefore[i]);
}

} // namespace

QstLogger::QstLogger(const QString& configPath)
{
    QSettings config(configPath, QSettings::IniFormat);
    LoggerState& logger = state();
    QMutexLocker locker(&logger.mutex);
    logger.minimumLevel = levelFromName(config.value(QStringLiteral("level")).toString());
    const QString file = config.value(QStringLiteral("file")).toString();
    if (!file.isEmpty()) {
        FILE* output = std::fopen(QFile::encodeName(file).constData(), "a");
        if (output)
            logger.output = output;
        else
            std::fprintf(stderr, "QstLogger: cannot open %s, logging to standard error\n",
                         QFile::encodeName(file).constData());
    }
    enableLevels(logger);
    _previousHandler = qInstallMessageHandler(&QstLogger::handleMessage);
}

QstLogger::~QstLogger()
{
    qInstallMessageHandler(_previousHandler);
    LoggerState& logger = state();
    QMutexLocker locker(&logger.mutex);
    restoreLevels(logger);
    if (logger.output != stderr)
        std::fclose(logger.output);
    logger.output = stderr;
}

void QstLogger::handleMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    LoggerState& logger = state();
    QMutexLocker locker(&logger.mutex);
    if (severity(type) >= logger.minimumLevel) {
        const QByteArray time = timeText(logger);
        std::fprintf(logger.output, "%s %s: %s\n", time.constData(), tag(type), message.toUtf8().constData());
        std::fflush(logger.output);
    }
    if (type == QtFatalMsg)
        abort();
}
