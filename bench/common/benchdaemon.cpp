#include "benchdaemon.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>

namespace BenchDaemon {

const QString Service = QStringLiteral("com.vorlane.Virelon");

namespace {

const int WaitMs = 600000;

} // namespace

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

void isolate(const QString& root, const QString& tamsilDir)
{
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = root + QLatin1Char('/') + QLatin1String(variable);
        QDir().mkpath(path);
        qputenv(variable, QFile::encodeName(path));
    }
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(tamsilDir));
    qputenv("VIRELON_TAMSIL_DATA_DIR", QFile::encodeName(tamsilDir));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(root));
    qputenv("VIRELON_CONFIG_DIR", QFile::encodeName(root + QStringLiteral("/etc/virelon")));
}

bool listen(const QString& name, QObject* receiver, const char* slot)
{
    return QDBusConnection::sessionBus().connect(Service, QStringLiteral("/"), Service, name, receiver, slot);
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

bool callDaemon(const QString& method, const QVariantList& arguments, QVariant* answer)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, QStringLiteral("/"), Service, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, WaitMs);
    waitUntil([&] { return pending.isFinished(); }, WaitMs);
    const QDBusMessage reply = pending.reply();
    if (answer && !reply.arguments().isEmpty())
        *answer = reply.arguments().first();
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool waitForService(QProcess& daemon)
{
    QElapsedTimer waited;
    waited.start();
    while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(Service)) {
        if (daemon.state() == QProcess::NotRunning || waited.elapsed() > 30000)
            return false;
        daemon.waitForFinished(20);
    }
    return true;
}

int fail(const QString& why, const QString& daemonLog)
{
    QFile log(daemonLog);
    if (log.open(QIODevice::ReadOnly))
        QTextStream(stderr) << log.readAll().right(4000) << '\n';
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << why << '\n';
    return 1;
}

qint64 statusKb(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace BenchDaemon
