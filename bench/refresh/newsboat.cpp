#include "newsboat.h"

#include "benchdaemon.h"
#include "refreshdaemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

namespace Newsboat {

namespace {

const int WaitMs = 1800000;

// Runs newsboat with the given commands, events running so that this process serves the feeds.
bool run(const QString& root, const QStringList& commands, QByteArray* output = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(homeIn(root));
    process.start(QStringLiteral("newsboat"),
                  QStringList{QStringLiteral("-u"), root + QStringLiteral("/urls"), QStringLiteral("-c"),
                              root + QStringLiteral("/cache.db"), QStringLiteral("-C"), root + QStringLiteral("/config"),
                              QStringLiteral("-x")}
                      + commands);
    QEventLoop loop;
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool timedReload(const QString& root, double* ms)
{
    QElapsedTimer timer;
    timer.start();
    if (!run(root, {QStringLiteral("reload")})) {
        BenchDaemon::fail(QStringLiteral("newsboat -x reload failed"));
        return false;
    }
    *ms = timer.nsecsElapsed() / 1e6;
    return true;
}

} // namespace

bool installed()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("newsboat")).isEmpty())
        return true;
    BenchDaemon::out() << "Installing Debian's newsboat, the reference..." << Qt::endl;
    QStringList command = {QStringLiteral("env"), QStringLiteral("DEBIAN_FRONTEND=noninteractive"),
                           QStringLiteral("apt-get"), QStringLiteral("install"), QStringLiteral("-y"),
                           QStringLiteral("-qq"), QStringLiteral("newsboat")};
    if (getuid() != 0)
        command.prepend(QStringLiteral("sudo"));
    QProcess install;
    install.setProcessChannelMode(QProcess::ForwardedChannels);
    install.start(command.takeFirst(), command);
    install.waitForFinished(WaitMs);
    return !QStandardPaths::findExecutable(QStringLiteral("newsboat")).isEmpty();
}

bool reload(const QStringList& links, const QString& root, Reloads* reloads)
{
    QDir().mkpath(root);
    QFile urls(root + QStringLiteral("/urls"));
    QFile config(root + QStringLiteral("/config"));
    if (!urls.open(QIODevice::WriteOnly) || !config.open(QIODevice::WriteOnly)) {
        BenchDaemon::fail(QStringLiteral("cannot write newsboat's files"));
        return false;
    }
    urls.write(links.join(QLatin1Char('\n')).toUtf8() + '\n');
    config.write("reload-threads 1\n");
    urls.close();
    config.close();
    if (!timedReload(root, &reloads->firstMs) || !timedReload(root, &reloads->secondMs))
        return false;
    QByteArray unread;
    run(root, {QStringLiteral("print-unread")}, &unread);
    reloads->unread = QString::fromUtf8(unread);
    return true;
}

} // namespace Newsboat
