#include "qstlogger.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QSettings>

#include <cstdio>

namespace {

struct LoggerState {
    QMutex mutex;
    int minimumLevel = 0;
    FILE* output = stderr;
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
    _previousHandler = qInstallMessageHandler(&QstLogger::handleMessage);
}

QstLogger::~QstLogger()
{
    qInstallMessageHandler(_previousHandler);
    LoggerState& logger = state();
    QMutexLocker locker(&logger.mutex);
    if (logger.output != stderr)
        std::fclose(logger.output);
    logger.output = stderr;
}

void QstLogger::handleMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    LoggerState& logger = state();
    QMutexLocker locker(&logger.mutex);
    if (severity(type) >= logger.minimumLevel) {
        const QByteArray time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
        std::fprintf(logger.output, "%s %s: %s\n", time.constData(), tag(type), message.toUtf8().constData());
        std::fflush(logger.output);
    }
    if (type == QtFatalMsg)
        abort();
}
