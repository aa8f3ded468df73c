#include "feedcorpus.h"
#include "benchdaemon.h"
#include "httpfixture.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

// A refresh round of a hundred feeds through the real daemon, its plug-in and a store of its
// own on the session bus, against Debian's newsboat reloading the same feeds from the same
// server with one reload thread and a fresh cache, in the same run. The daemon subscribes the
// feeds in one call and is timed to the last end of a refresh; then every feed is refreshed
// again with nothing changed. Each side runs a few times, alternating, and the best counts;
// memory figures are the worst seen.
using BenchDaemon::callDaemon;
using BenchDaemon::out;
using BenchDaemon::Service;
using BenchDaemon::statusKb;
using BenchDaemon::waitForService;

namespace {

int Rounds = 3;
const int WaitMs = 600000;

const double ColdTarget = 1.0;
const double UnchangedTargetMs = 500;
const qint64 IdleTargetKb = 16 * 1024;
const qint64 AfterTargetKb = 30 * 1024;
const qint64 PluginTargetKb = 64 * 1024;

// The highest peak of any child of a process while it is watched: the plug-in comes and goes.
class ChildPeak : public QObject
{
public:
    explicit ChildPeak(qint64 parentPid) : _parent(parentPid)
    {
        connect(&_timer, &QTimer::timeout, this, &ChildPeak::sample);
        _timer.start(25);
    }
    qint64 peakKb() const { return _peak; }
    void sample()
    {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(_parent));
        if (!children.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& pid : children.readAll().simplified().split(' ')) {
            if (!pid.isEmpty())
                _peak = std::max(_peak, statusKb(pid.toLongLong(), "VmHWM"));
        }
    }

private:
    qint64 _parent;
    qint64 _peak = 0;
    QTimer _timer;
};

// The ends of refreshes as the daemon signals them: completed, or an error code.
class Ends : public QObject
{
    Q_OBJECT

public:
    Ends()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshCompleted"), this,
                    SLOT(completed(QString)));
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshError"), this,
                    SLOT(failed(QString,int)));
    }

    // Waits for `count` ends; false when one was an error other than `accepted` or on time-out.
    bool waitFor(int count, int accepted = -1)
    {
        QEventLoop loop;
        connect(this, &Ends::ended, &loop, [&] {
            if (ends >= count)
                loop.quit();
        });
        QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
        if (ends < count)
            loop.exec();
        for (auto it = errors.cbegin(); it != errors.cend(); ++it) {
            if (it.value() != accepted) {
                out() << "refresh of " << it.key() << " ended with " << it.value() << Qt::endl;
                return false;
            }
        }
        return ends >= count;
    }
    void clear()
    {
        uris.clear();
        errors.clear();
        ends = 0;
    }

    QStringList uris;
    QHash<QString, int> errors;
    int ends = 0;

signals:
    void ended();

private slots:
    void completed(const QString& uri)
    {
        uris << uri;
        ++ends;
        emit ended();
    }
    void failed(const QString& uri, int code)
    {
        uris << uri;
        errors.insert(uri, code);
        ++ends;
        emit ended();
    }
};

struct Figures {
    double coldMs = 1e300;
    double unchangedMs = 1e300;
    double newsboatMs = 1e300;
    qint64 idleKb = 0;
    qint64 afterKb = 0;
    qint64 idleAnonKb = 0;
    qint64 afterAnonKb = 0;
    qint64 pluginKb = 0;
    QString newsboatArticles;
};

QString failure;

bool fail(const QString& why, const QString& log = QString())
{
    QFile file(log);
    if (file.open(QIODevice::ReadOnly))
        QTextStream(stderr) << file.readAll().right(4000) << '\n';
    failure = why;
    return false;
}

QProcessEnvironment homeIn(const QString& root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = root + QLatin1Char('/') + QLatin1String(variable);
        QDir().mkpath(path);
        environment.insert(QLatin1String(variable), path);
    }
    return environment;
}

// The installed defaults: settings and logger configuration as the package lays them out.
QString configDir(const QString& root)
{
    const QString dir = root + QStringLiteral("/etc/virelon");
    QDir().mkpath(dir);
    for (const QString& name : QDir(QStringLiteral(VIRELON_DEFAULTS_DIR)).entryList(QDir::Files))
        QFile::copy(QStringLiteral(VIRELON_DEFAULTS_DIR "/") + name, dir + QLatin1Char('/') + name);
    return dir;
}

// One daemon on a fresh store: the subscription round, then the unchanged one.
bool daemonRounds(const FeedCorpus& corpus, const QString& root, Figures* figures)
{
    StoreEndpoint endpoint(root + QStringLiteral("/store"));
    if (!endpoint.start())
        return fail(QStringLiteral("no store endpoint (run under dbus-run-session)"));
    QProcessEnvironment environment = homeIn(root);
    environment.insert(QStringLiteral("VIRELON_STORE_SERVICE"), endpoint.serviceName());
    environment.insert(QStringLiteral("VIRELON_PLUGIN_DIR"), QStringLiteral(TAMSIL_DIR));
    environment.insert(QStringLiteral("VIRELON_TAMSIL_DATA_DIR"), QStringLiteral(TAMSIL_DIR));
    environment.insert(QStringLiteral("VIRELON_COMM_DIR"), root);
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), configDir(root));
    QProcess daemon;
    const QString log = root + QStringLiteral("/virelon.log");
    daemon.setProcessEnvironment(environment);
    daemon.setStandardErrorFile(log);
    daemon.start(QStringLiteral(VIRELON_BINARY), QStringList());
    if (!waitForService(daemon) || !callDaemon(QStringLiteral("conf"), {}))
        return fail(QStringLiteral("the daemon did not come up"), log);
    figures->idleKb = std::max(figures->idleKb, statusKb(daemon.processId(), "VmRSS"));
    figures->idleAnonKb = std::max(figures->idleAnonKb, statusKb(daemon.processId(), "RssAnon"));

    Ends ends;
    ChildPeak plugin(daemon.processId());
    QElapsedTimer timer;
    timer.start();
    if (!callDaemon(QStringLiteral("subscribe"), {corpus.links(), QStringLiteral("tamsil")})
        || !ends.waitFor(corpus.links().size()))
        return fail(QStringLiteral("the subscription round failed"), log);
    figures->coldMs = std::min(figures->coldMs, timer.nsecsElapsed() / 1e6);
    const QStringList channels = ends.uris;

    ends.clear();
    timer.restart();
    if (!callDaemon(QStringLiteral("refresh"), {channels}) || !ends.waitFor(corpus.links().size(), 304))
        return fail(QStringLiteral("the unchanged round failed"), log);
    figures->unchangedMs = std::min(figures->unchangedMs, timer.nsecsElapsed() / 1e6);
    plugin.sample();
    figures->pluginKb = std::max(figures->pluginKb, plugin.peakKb());
    figures->afterKb = std::max(figures->afterKb, statusKb(daemon.processId(), "VmRSS"));
    figures->afterAnonKb = std::max(figures->afterAnonKb, statusKb(daemon.processId(), "RssAnon"));

    daemon.terminate();
    daemon.waitForFinished();
    return true;
}

bool newsboatInstalled()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("newsboat")).isEmpty())
        return true;
    out() << "Installing Debian's newsboat, the reference..." << Qt::endl;
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

// Runs newsboat with the given commands, events running so that this process serves the feeds.
bool newsboat(const QString& root, const QStringList& commands, QByteArray* output = nullptr)
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

bool newsboatRound(const FeedCorpus& corpus, const QString& root, Figures* figures)
{
    QDir().mkpath(root);
    QFile urls(root + QStringLiteral("/urls"));
    QFile config(root + QStringLiteral("/config"));
    if (!urls.open(QIODevice::WriteOnly) || !config.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write newsboat's files"));
    urls.write(corpus.links().join(QLatin1Char('\n')).toUtf8() + '\n');
    config.write("reload-threads 1\n");
    urls.close();
    config.close();
    QElapsedTimer timer;
    timer.start();
    if (!newsboat(root, {QStringLiteral("reload")}))
        return fail(QStringLiteral("newsboat -x reload failed"));
    figures->newsboatMs = std::min(figures->newsboatMs, timer.nsecsElapsed() / 1e6);
    QByteArray unread;
    newsboat(root, {QStringLiteral("print-unread")}, &unread);
    figures->newsboatArticles = QString::fromUtf8(unread);
    return true;
}

QString ms(double value)
{
    return QString::number(value, 'f', 0) + QStringLiteral(" ms");
}

QString mb(qint64 kb)
{
    return QString::number(kb / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

void verdict(bool ok)
{
    out() << (ok ? " ok" : " OVER") << Qt::endl;
}

void report(const FeedCorpus& corpus, const Figures& figures)
{
    out() << corpus.links().size() << " feeds, " << corpus.items() << " items, "
          << QString::number(corpus.bytes() / 1e6, 'f', 1) << " MB (the daemon keeps " << corpus.itemsKept(100)
          << " of them at its default 100 a channel); best of " << Rounds << Qt::endl;
    out() << "newsboat -x reload (1 thread, fresh cache): " << ms(figures.newsboatMs) << " ("
          << figures.newsboatArticles << ")" << Qt::endl;
    const double ratio = figures.coldMs / figures.newsboatMs;
    out() << "cold round through the daemon: " << ms(figures.coldMs) << ", ratio to newsboat "
          << QString::number(ratio, 'f', 2) << " (target <= " << ColdTarget << ")";
    verdict(ratio <= ColdTarget);
    out() << "unchanged round: " << ms(figures.unchangedMs) << " (target <= " << ms(UnchangedTargetMs) << ")";
    verdict(figures.unchangedMs <= UnchangedTargetMs);
    // Most of it is shared libraries' pages; the daemon's own is the anonymous part.
    out() << "daemon resident memory idle after start: " << mb(figures.idleKb) << ", its own "
          << mb(figures.idleAnonKb) << " (target <= " << mb(IdleTargetKb) << ")";
    verdict(figures.idleKb <= IdleTargetKb);
    out() << "daemon resident memory after the rounds: " << mb(figures.afterKb) << ", its own "
          << mb(figures.afterAnonKb) << " (target <= " << mb(AfterTargetKb) << ")";
    verdict(figures.afterKb <= AfterTargetKb);
    out() << "plug-in peak: " << mb(figures.pluginKb) << " (target <= " << mb(PluginTargetKb) << ")";
    verdict(figures.pluginKb <= PluginTargetKb);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // --rounds N: fewer for a quick look, more on a busy machine.
    const int asked = app.arguments().indexOf(QStringLiteral("--rounds"));
    if (asked > 0)
        Rounds = std::max(1, app.arguments().value(asked + 1).toInt());
    if (!QDBusConnection::sessionBus().isConnected()) {
        out() << "No session bus: run under dbus-run-session -- " << argv[0] << Qt::endl;
        return 1;
    }
    if (!newsboatInstalled()) {
        out() << "newsboat is missing and could not be installed" << Qt::endl;
        return 1;
    }
    // --keep leaves the logs and stores behind, for a look at where the time went.
    QTemporaryDir dir;
    if (app.arguments().contains(QStringLiteral("--keep"))) {
        dir.setAutoRemove(false);
        out() << "Kept in " << dir.path() << Qt::endl;
    }
    HttpFixture server;
    const FeedCorpus corpus(&server, 100, 0);
    Figures figures;
    for (int round = 0; round < Rounds; ++round) {
        const QString tag = QString::number(round);
        if (!daemonRounds(corpus, dir.filePath(QStringLiteral("daemon") + tag), &figures)
            || !newsboatRound(corpus, dir.filePath(QStringLiteral("newsboat") + tag), &figures)) {
            QTextStream(stderr) << "bench_refresh: " << failure << '\n';
            return 1;
        }
    }
    report(corpus, figures);
    return 0;
}

#include "bench_refresh.moc"
