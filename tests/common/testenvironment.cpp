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
    // Whatever the host's interfaces, no bearer knows a network configuration (neither Qt's
    // generic one nor those on the system bus): the daemon uses the host's network without a
    // session. Tests of the network bring the test bearer.
    qputenv("QT_EXCLUDE_GENERIC_BEARER", "1");
    qputenv("VIRELON_SOLDRIN_LIBRARY", SOLDRIN_LIBRARY);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QFile::encodeName(QStringLiteral("unix:path=") + root + "/no-system-bus"));
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
