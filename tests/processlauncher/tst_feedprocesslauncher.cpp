#include "feedprocesslauncher.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "logrecorder.h"
#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

const QString Engine = QStringLiteral("Engine");

// A value as the log writes it.
QString logged(const QString& value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_FeedProcessLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void madeWithTheScheduler();
    void launchList_data();
    void launchList();
    void alreadyActive();
    void exitedStartsAgain();
    void inputIsTheNullDevice();
    void outputIsTheDaemons();
    void failedStartTriedAgain_data();
    void failedStartTriedAgain();
    void endWithoutProcess();

private:
    // Writes the launch list (or none) and makes a scheduler, whose launcher reads it.
    FeedProcessLauncher* launcher(const QStringList& lines, bool file = true);
    QList<QProcess*> processes() const;
    QStringList processNames() const;
    void awake() { emit FeedTaskManager::instance()->awake(); }
    QString marker() const { return _dir.path() + QStringLiteral("/marker"); }

    QTemporaryDir _dir;
    QString _configDir;
    std::unique_ptr<StoreEndpoint> _endpoint;
    FeedProcessLauncher* _launcher = nullptr;
};

void tst_FeedProcessLauncher::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qRegisterMetaType<QProcess::ExitStatus>();
    _configDir = qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/virelon");
    QVERIFY(QDir().mkpath(_configDir));
    qputenv("VIRELON_CONFIG_DIR", QFile::encodeName(_configDir));
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(_endpoint->start());
}

void tst_FeedProcessLauncher::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _endpoint.reset();
}

void tst_FeedProcessLauncher::init()
{
    QFile::remove(marker());
}

// Every companion has ended before the launcher goes.
void tst_FeedProcessLauncher::cleanup()
{
    const bool ended = !_launcher || QTest::qWaitFor([this] { return processes().isEmpty(); }, 10000);
    FeedTaskManager::releaseInstance();
    _launcher = nullptr;
    QVERIFY(ended);
}

// The scheduler makes its launcher before the transfer bridge, and lets it go last.
void tst_FeedProcessLauncher::madeWithTheScheduler()
{
    // The singletons the scheduler takes exist already.
    FeedTaskManager::instance();
    FeedTaskManager::releaseInstance();
    LogRecorder log;
    FeedTaskManager::instance();
    FeedTaskManager::releaseInstance();
    QStringList order;
    for (const LogRecorder::Line& line : log.lines()) {
        const bool own = QStringList({"TaskManager", "Engine", "TransferUi"}).contains(line.category);
        if (own && line.message.startsWith(QLatin1String("object ")))
            order << line.category + ' ' + line.message;
    }
    QCOMPARE(order, QStringList({"TaskManager object init", "Engine object init", "TransferUi object init",
                                 "TaskManager object de-init", "TransferUi object de-init",
                                 "Engine object de-init"}));
}

FeedProcessLauncher* tst_FeedProcessLauncher::launcher(const QStringList& lines, bool file)
{
    FeedTaskManager::releaseInstance();
    QFile list(_configDir + QStringLiteral("/launch.conf"));
    list.remove();
    if (file) {
        if (!list.open(QIODevice::WriteOnly))
            qFatal("Cannot write the launch list");
        list.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        list.close();
    }
    FeedTaskManager::instance();
    _launcher = FeedProcessLauncher::instance();
    return _launcher;
}

QList<QProcess*> tst_FeedProcessLauncher::processes() const
{
    return _launcher->findChildren<QProcess*>(QString(), Qt::FindDirectChildrenOnly);
}

QStringList tst_FeedProcessLauncher::processNames() const
{
    QStringList names;
    for (QProcess* process : processes())
        names << process->objectName();
    return names;
}

void tst_FeedProcessLauncher::launchList_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("file");
    QTest::addColumn<QStringList>("started");

    QTest::newRow("key order, not file order") << QStringList{"/bin/true b", "/bin/true a"} << true
                                               << QStringList{"/bin/true a", "/bin/true b"};
    QTest::newRow("a line twice") << QStringList{"/bin/true a", "/bin/true a"} << true
                                  << QStringList{"/bin/true a"};
    QTest::newRow("# in the first column only") << QStringList{"#/bin/true a", " #/bin/true b"} << true
                                                << QStringList{" #/bin/true b"};
    QTest::newRow("empty and blank lines") << QStringList{"", "  \t", "/bin/true a", ""} << true
                                           << QStringList{"/bin/true a"};
    QTest::newRow("comments only") << QStringList{"# /bin/true a"} << true << QStringList();
    QTest::newRow("no file") << QStringList() << false << QStringList();
}

void tst_FeedProcessLauncher::launchList()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, file);
    QFETCH(QStringList, started);

    launcher(lines, file);
    awake();
    QCOMPARE(processNames(), started);
}

void tst_FeedProcessLauncher::alreadyActive()
{
    const QString fifo = _dir.path() + QStringLiteral("/fifo");
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString held = QStringLiteral("/bin/sh -c \"read line < %1\"").arg(fifo);
    const QString quick = QStringLiteral("/bin/true");
    launcher({held, quick});
    awake();
    QCOMPARE(processNames(), QStringList({held, quick}));
    QTRY_COMPARE(processNames(), QStringList{held});

    LogRecorder log;
    awake();
    QCOMPARE(processNames(), QStringList({held, quick}));
    QCOMPARE(log.messages(Engine, QStringLiteral("executeProcess")),
             QStringList{QStringLiteral("Returning: process is already active: ") + logged(held)});
    QCOMPARE(log.messages(Engine, QStringLiteral("startProcess")),
             QStringList{QStringLiteral("Starting: ") + logged(quick)});

    int writer = -1;
    QTRY_VERIFY((writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) >= 0);
    QCOMPARE(::write(writer, "go\n", 3), ssize_t(3));
    ::close(writer);
    QTRY_VERIFY(processes().isEmpty());
}

void tst_FeedProcessLauncher::exitedStartsAgain()
{
    const QString command = QStringLiteral("/bin/sh -c \"exit 3\"");
    launcher({command});
    LogRecorder log;
    awake();
    auto process = _launcher->findChild<QProcess*>(command);
    QVERIFY(process);
    QSignalSpy finished(process, SIGNAL(finished(int,QProcess::ExitStatus)));
    QVERIFY(finished.wait(10000));
    QCOMPARE(log.messages(Engine, QStringLiteral("terminateProcess")),
             QStringList({QStringLiteral("Exit code: 3"), QStringLiteral("Exited process: ") + logged(command)}));

    awake();
    QCOMPARE(log.messages(Engine, QStringLiteral("startProcess")),
             QStringList({QStringLiteral("Starting: ") + logged(command), QStringLiteral("Starting: ") + logged(command)}));
}

// A companion that reads its input to the end must get an end at once.
void tst_FeedProcessLauncher::inputIsTheNullDevice()
{
    launcher({QStringLiteral("/bin/sh -c \"cat; echo ran >> %1\"").arg(marker())});
    awake();
    QTRY_COMPARE(readAll(marker()), QStringLiteral("ran\n"));
}

// What a companion writes goes where the daemon's own output goes, not into a buffer of ours.
void tst_FeedProcessLauncher::outputIsTheDaemons()
{
    const QString command = QStringLiteral("/bin/sh -c \"echo companion-line\"");
    launcher({command});
    const int saved = ::dup(STDOUT_FILENO);
    const int output = ::open(QFile::encodeName(marker()).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(saved >= 0 && output >= 0);
    ::dup2(output, STDOUT_FILENO);
    awake();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(output);
    QTRY_VERIFY(processes().isEmpty());
    QVERIFY(readAll(marker()).split(QLatin1Char('\n')).contains(QStringLiteral("companion-line")));
}

void tst_FeedProcessLauncher::failedStartTriedAgain_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("no such program") << QStringLiteral("/nonexistent/companion --flag");
    QTest::newRow("empty program") << QStringLiteral("\"\" --flag");
}

// A program that cannot start frees its entry and its process object.
void tst_FeedProcessLauncher::failedStartTriedAgain()
{
    QFETCH(QString, command);

    launcher({command});
    LogRecorder log;
    awake();
    QTRY_VERIFY(processes().isEmpty());
    QCOMPARE(log.messages(Engine, QtCriticalMsg).size(), 1);
    QVERIFY(log.messages(Engine, QtCriticalMsg).at(0).startsWith(QStringLiteral("Failed to start: ") + logged(command)));

    awake();
    QCOMPARE(log.messages(Engine, QStringLiteral("startProcess")),
             QStringList({QStringLiteral("Starting: ") + logged(command), QStringLiteral("Starting: ") + logged(command)}));
    QVERIFY(log.messages(Engine, QStringLiteral("executeProcess")).isEmpty());
}

void tst_FeedProcessLauncher::endWithoutProcess()
{
    launcher({QStringLiteral("/bin/true")});
    LogRecorder log;
    QVERIFY(QMetaObject::invokeMethod(_launcher, "terminateProcess", Q_ARG(int, 0)));
    QCOMPARE(log.messages(Engine, QtCriticalMsg), QStringList{QStringLiteral("Failed type conversion. Returning...")});
}

VIRELON_TEST_MAIN(tst_FeedProcessLauncher)
#include "tst_feedprocesslauncher.moc"
