#include "benchdaemon.h"
#include "storeendpoint.h"
#include "virelonadaptor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

// "norvix signal all" under a burst of 100 000 enclosureDownloadProgress signals from the real
// adaptor, owning the daemon's name on a bus of the bench's own. Printed: the watcher's resident
// memory after the whole burst over that after its first 1 000 signals, and the signals it
// prints per second over those dbus-monitor prints of the same burst, both listening at once.
namespace {

const int Warmup = 1000;
const int Burst = 100000;
const double MemoryTarget = 1.1;
const QByteArray Counted = "\"urn:burst\"\n";
const QByteArray Ready = "\"urn:ready\"\n";

using BenchDaemon::out;

// Stands in for the service object: the adaptor relays its signals as the daemon's.
class StandInService : public QObject
{
    Q_OBJECT

public:
    void progress(const QString& uri, qlonglong done) { emit enclosureDownloadProgress(uri, Burst, done, Burst - done); }

signals:
    void enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize, qlonglong downloadedSize,
                                   qlonglong timeRemaining);
};

// A listener's output, read as it comes: how many signals of the burst it has printed and when
// it printed the last one. It writes to a file, so that it never waits for this reader; a
// marker cut by a read is caught by keeping the unfinished line.
class Listener
{
public:
    Listener(const QString& program, const QStringList& arguments, const QString& outputFile)
        : _output(outputFile)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
        _process.setProcessEnvironment(environment);
        _process.setStandardOutputFile(outputFile);
        _process.setStandardErrorFile(outputFile, QIODevice::Append);
        _process.start(program, arguments);
        if (!_process.waitForStarted() || !_output.open(QIODevice::ReadOnly))
            qFatal("%s did not start", qPrintable(program));
    }
    ~Listener()
    {
        _process.kill();
        _process.waitForFinished();
    }

    void read()
    {
        _pending += _output.readAll();
        const int end = _pending.lastIndexOf('\n') + 1;
        const QByteArray lines = _pending.left(end);
        _pending.remove(0, end);
        _ready = _ready || lines.contains(Ready);
        const int found = lines.count(Counted);
        if (found > 0) {
            _count += found;
            _lastAt = _clock.nsecsElapsed();
        }
    }
    void startClock(const QElapsedTimer& clock) { _clock = clock; }

    bool ready() const { return _ready; }
    int count() const { return _count; }
    qint64 lastAt() const { return _lastAt; }
    qint64 pid() const { return _process.processId(); }

private:
    QProcess _process;
    QFile _output;
    QByteArray _pending;
    bool _ready = false;
    int _count = 0;
    QElapsedTimer _clock;
    qint64 _lastAt = 0;
};

void waitFor(const std::function<bool()>& condition, const char* what)
{
    if (!QTest::qWaitFor(condition, 600000))
        qFatal("timed out waiting for %s", what);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QProcess bus;
    if (!StoreEndpoint::startBus(&bus, QStringLiteral(PRIVATE_BUS_CONFIG)))
        qFatal("the private bus did not start");
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");

    StandInService service;
    new VirelonAdaptor(&service);
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.registerObject(QStringLiteral("/"), &service, QDBusConnection::ExportAdaptors)
        || !connection.registerService(QStringLiteral("com.vorlane.Virelon")))
        qFatal("cannot own the daemon's name");

    QTemporaryDir outputs;
    Listener watcher(QStringLiteral(NORVIX_BINARY), {QStringLiteral("signal"), QStringLiteral("all")},
                     outputs.filePath(QStringLiteral("norvix")));
    Listener monitor(QStringLiteral("dbus-monitor"),
                     {QStringLiteral("--address"), address,
                      QStringLiteral("type='signal',interface='com.vorlane.Virelon',member='enclosureDownloadProgress'")},
                     outputs.filePath(QStringLiteral("dbus-monitor")));
    // Both are listening once each has printed a signal.
    waitFor(
        [&] {
            service.progress(QStringLiteral("urn:ready"), 0);
            return QTest::qWaitFor(
                [&] {
                    watcher.read();
                    monitor.read();
                    return watcher.ready() && monitor.ready();
                },
                200);
        },
        "the listeners");

    const auto emitAndWait = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            service.progress(QStringLiteral("urn:burst"), i);
        waitFor(
            [&] {
                watcher.read();
                monitor.read();
                return watcher.count() >= to && monitor.count() >= to;
            },
            "the burst");
    };
    emitAndWait(0, Warmup);
    const qint64 early = BenchDaemon::statusKb(watcher.pid(), "VmRSS");

    QElapsedTimer clock;
    clock.start();
    watcher.startClock(clock);
    monitor.startClock(clock);
    emitAndWait(Warmup, Burst);
    const qint64 late = BenchDaemon::statusKb(watcher.pid(), "VmRSS");
    const double emitted = Burst - Warmup;
    const double watcherRate = emitted / (watcher.lastAt() / 1e9);
    const double monitorRate = emitted / (monitor.lastAt() / 1e9);

    const double memoryRatio = double(late) / double(early);
    out() << "signal all, " << Burst << " enclosureDownloadProgress signals: resident " << early << " KiB after "
          << Warmup << ", " << late << " KiB after " << Burst << ", ratio " << QString::number(memoryRatio, 'f', 2)
          << " (target <= " << MemoryTarget << ") " << (memoryRatio <= MemoryTarget ? "ok" : "OVER") << Qt::endl;
    out() << "signals per second over the last " << emitted << ": norvix " << qRound(watcherRate) << ", dbus-monitor "
          << qRound(monitorRate) << ", ratio " << QString::number(watcherRate / monitorRate, 'f', 2) << Qt::endl;
    bus.terminate();
    bus.waitForFinished();
    return 0;
}

#include "bench_norvixwatch.moc"
