#include "testenvironment.h"

#include <QDir>

namespace {

QtMessageHandler testLogHandler = nullptr;

void failingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    testLogHandler(type, context, message);
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QObject::connect: No such")))
        QTest::qFail(qPrintable(message), context.file ? context.file : __FILE__, context.line);
}

} // namespace

TestEnvironment::TestEnvironment()
{
    if (!_root.isValid())
        qFatal("TestEnvironment: no temporary folder");
    const QString root = _root.path();
    const char* const variables[][2] = {
        {"HOME", "home"},
        {"XDG_CONFIG_HOME", "home/.config"},
        {"XDG_DATA_HOME", "home/.local/share"},
        {"XDG_CACHE_HOME", "home/.cache"},
        {"XDG_CONFIG_DIRS", "etc/xdg"},
    };
    for (const auto& variable : variables)
        qputenv(variable[0], QFile::encodeName(path(QString::fromLatin1(variable[1]))));
    // The session's runtime folder is the user's alone.
    const QString runtime = path(QStringLiteral("run"));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

QString TestEnvironment::path(const QString& relative) const
{
    const QString full = _root.path() + QLatin1Char('/') + relative;
    QDir().mkpath(full);
    return full;
}

void TestEnvironment::failOnConnectWarnings()
{
    QtMessageHandler previous = qInstallMessageHandler(failingHandler);
    if (previous != failingHandler)
        testLogHandler = previous;
}
