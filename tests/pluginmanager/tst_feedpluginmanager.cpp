#include "feedpluginmanager.h"
#include "testenvironment.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Calls that are meant to time out, and calls that must not.
constexpr int ShortCall = 600;
constexpr int LongCall = 5000;

const QStringList Scenarios = {"good", "tamsil", "Good", "wrongversion", "mute", "crash", "hang",
                               "freeze", "dying", "split", "garbage", "oversized", "unknown", "late", "stale"};

FeedChannel channelOf(const QString& type, const QString& link = QStringLiteral("http://127.0.0.1/feed"))
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:channel:") + type);
    channel.setType(type);
    channel.setLink(link);
    return channel;
}

FeedEnclosure enclosureAt(const QString& remoteUrl)
{
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(remoteUrl);
    enclosure.setLocalUrl(QStringLiteral("/tmp/enclosure.mp3.part"));
    return enclosure;
}

} // namespace

// Records every signal of the manager, in one list, so that order and counts can be checked.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(FeedPluginManager* manager)
    {
        connect(manager, &FeedPluginManager::downloadFeedsFinished, this, [this]() { add("feedsFinished"); });
        connect(manager, &FeedPluginManager::downloadFeedsFailed, this,
                [this](int code) { add(QStringLiteral("feedsFailed %1").arg(code)); });
        connect(manager, &FeedPluginManager::downloadEnclosureFinished, this, [this](const QVariantMap& map) {
            add(QStringLiteral("enclosureFinished %1 %2").arg(map.value("mimeType").toString(),
                                                              map.value("length").toString()));
        });
        connect(manager, &FeedPluginManager::downloadEnclosureFailed, this,
                [this](int code) { add(QStringLiteral("enclosureFailed %1").arg(code)); });
        connect(manager, &FeedPluginManager::enclosureDownloadProgress, this,
                [this](qlonglong received, qlonglong total) {
                    add(QStringLiteral("progress %1/%2").arg(received).arg(total));
                });
        connect(manager, &FeedPluginManager::pluginExited, this,
                [this](const QString& type) { add(QStringLiteral("exited ") + type); });
    }

    QStringList events;

signals:
    void recorded();

private:
    void add(const QString& event)
    {
        events.append(event);
        emit recorded();
    }
};

class tst_FeedPluginManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void downloadsAndRelaysResults();
    void downloadsEnclosures_data();
    void downloadsEnclosures();
    void cancelAndPause_data();
    void cancelAndPause();
    void failedActivationReportsFailure_data();
    void failedActivationReportsFailure();
    void enclosureWithoutPluginReportsFailure();
    void faultDuringDownloadEndsInExit_data();
    void faultDuringDownloadEndsInExit();
    void splitRecordWaitsForItsRest();
    void unknownRecordsAreDropped();
    void lateAnswerIsNotTakenForTheNext();
    void signalsBesideAnAnswerAreKept();
    void staleRecordsDoNotEndTheNextDownload();
    void restartsAreLimited();
    void isBusy();
    void silentPluginIsReplaced();
    void exitWhileAskedIsNoHang();
    void nameCaseSharesOneProcess();
    void communicationFileIsGuarded_data();
    void communicationFileIsGuarded();

private:
    void setCallTimeout(int milliseconds)
    {
        FeedPluginManager::Limits limits = _manager->limits();
        limits.callTimeout = milliseconds;
        _manager->setLimits(limits);
    }

    QString communicationPath(const QString& name) const
    {
        return _comm.path() + QLatin1Char('/') + name + QStringLiteral(".data");
    }

    QTemporaryDir _plugins;
    QTemporaryDir _comm;
    FeedPluginManager* _manager = nullptr;
    Recorder* _recorder = nullptr;
};

void tst_FeedPluginManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_plugins.isValid() && _comm.isValid());
    for (const QString& scenario : Scenarios)
        QVERIFY(QFile::link(QStringLiteral(FAKE_PLUGIN), _plugins.path() + QLatin1Char('/') + scenario));
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(_plugins.path()));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(_comm.path()));
    qputenv("FAKE_PLUGIN_DELAY", "800");
}

void tst_FeedPluginManager::init()
{
    _manager = FeedPluginManager::instance();
    // A fresh plug-in must answer its version check even on a loaded machine; tests whose point
    // is a call that times out shorten the wait once the plug-in runs.
    FeedPluginManager::Limits limits;
    limits.startTimeout = 5000;
    limits.callTimeout = LongCall;
    limits.hangLimit = 300;
    limits.stopGrace = 500;
    _manager->setLimits(limits);
    _recorder = new Recorder(_manager);
}

void tst_FeedPluginManager::cleanup()
{
    delete _recorder;
    FeedPluginManager::releaseInstance();
}

void tst_FeedPluginManager::downloadsAndRelaysResults()
{
    _manager->downloadFeeds(channelOf("good"));
    // Records are re-emitted from the event loop, never inside the request.
    QVERIFY(_recorder->events.isEmpty());
    QTRY_COMPARE(_recorder->events, QStringList({"progress 1/3", "progress 2/3", "progress 3/3", "feedsFinished"}));

    const FeedChannel fetched = _manager->channel();
    QCOMPARE(fetched.uri(), QStringLiteral("urn:channel:good"));
    QCOMPARE(fetched.title(), QStringLiteral("answer 1"));
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
    QCOMPARE(_manager->channel().title(), QStringLiteral("answer 2"));
    _manager->resetActivePlugin();
    QCOMPARE(_manager->processCount(), 1);
    QFile file(communicationPath("good"));
    QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
}

void tst_FeedPluginManager::downloadsEnclosures_data()
{
    QTest::addColumn<bool>("resume");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("new") << false
                         << QStringList({"progress 5/10", "enclosureFinished new /tmp/enclosure.mp3.part"});
    QTest::newRow("resumed") << true << QStringList({"enclosureFinished resumed /tmp/enclosure.mp3.part"});
}

void tst_FeedPluginManager::downloadsEnclosures()
{
    QFETCH(bool, resume);
    QFETCH(QStringList, events);
    _manager->downloadEnclosure(enclosureAt("http://127.0.0.1/a.mp3"), resume);
    QTRY_COMPARE(_recorder->events, events);
}

void tst_FeedPluginManager::cancelAndPause_data()
{
    QTest::addColumn<bool>("enclosure");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<QString>("event");
    QTest::newRow("cancel feed") << false << false << "feedsFailed 201";
    QTest::newRow("cancel enclosure") << true << false << "enclosureFailed 201";
    QTest::newRow("pause enclosure") << true << true << "enclosureFailed 203";
}

void tst_FeedPluginManager::cancelAndPause()
{
    QFETCH(bool, enclosure);
    QFETCH(bool, pause);
    QFETCH(QString, event);
    _manager->cancelDownload(pause); // no plug-in yet: nothing to tell
    if (enclosure)
        _manager->downloadEnclosure(enclosureAt("wait"), false);
    else
        _manager->downloadFeeds(channelOf("good", "wait"));
    QVERIFY(_manager->isBusy());
    _manager->cancelDownload(pause);
    QTRY_COMPARE(_recorder->events, QStringList({event}));
}

void tst_FeedPluginManager::failedActivationReportsFailure_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("no such program") << "missing";
    QTest::newRow("wrong version") << "wrongversion";
    QTest::newRow("no answer") << "mute";
    QTest::newRow("empty name") << "";
    QTest::newRow("path in name") << "../pluginmanager/good";
    QTest::newRow("dot in name") << "good.data";
    QTest::newRow("blank in name") << "go od";
}

// Fault guarded: a request that cannot be sent used to leave the task waiting forever.
void tst_FeedPluginManager::failedActivationReportsFailure()
{
    QFETCH(QString, type);
    setCallTimeout(ShortCall);
    _manager->downloadFeeds(channelOf(type));
    QTRY_COMPARE(_recorder->events, QStringList({"feedsFailed 202"}));
    QCOMPARE(_manager->processCount(), 0);
    // The failure still names the channel it was about.
    QCOMPARE(_manager->channel().uri(), QStringLiteral("urn:channel:") + type);
    QVERIFY(!_manager->isBusy());
}

void tst_FeedPluginManager::enclosureWithoutPluginReportsFailure()
{
    QTemporaryDir empty;
    const QByteArray plugins = qgetenv("VIRELON_PLUGIN_DIR");
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(empty.path()));
    _manager->downloadEnclosure(enclosureAt("http://127.0.0.1/a.mp3"), false);
    qputenv("VIRELON_PLUGIN_DIR", plugins);
    QTRY_COMPARE(_recorder->events, QStringList({"enclosureFailed 202"}));
}

void tst_FeedPluginManager::faultDuringDownloadEndsInExit_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("crash") << "crash";
    QTest::newRow("no progress") << "hang";
    QTest::newRow("frozen event loop") << "freeze";
    QTest::newRow("garbage record") << "garbage";
    QTest::newRow("oversized record") << "oversized";
}

// Every fault in the middle of a download ends it through pluginExited, never in a hang.
void tst_FeedPluginManager::faultDuringDownloadEndsInExit()
{
    QFETCH(QString, type);
    _manager->downloadFeeds(channelOf(type));
    setCallTimeout(ShortCall);
    QTRY_COMPARE(_recorder->events, QStringList({"exited " + type}));
    QCOMPARE(_manager->processCount(), 0);
    QVERIFY(!_manager->isBusy());
    // The next download starts a fresh process.
    setCallTimeout(LongCall);
    _manager->downloadFeeds(channelOf(type));
    QCOMPARE(_manager->processCount(), 1);
}

void tst_FeedPluginManager::splitRecordWaitsForItsRest()
{
    _manager->downloadFeeds(channelOf("split"));
    QTRY_COMPARE(_recorder->events, QStringList({"feedsFailed 404"}));
    QCOMPARE(_manager->processCount(), 1);
}

// Fault guarded: a record named "deleteLater" used to destroy the manager.
void tst_FeedPluginManager::unknownRecordsAreDropped()
{
    QPointer<FeedPluginManager> manager(_manager);
    _manager->downloadFeeds(channelOf("unknown"));
    QTRY_COMPARE(_recorder->events,
                 QStringList({"progress 1/3", "progress 2/3", "progress 3/3", "feedsFinished"}));
    QVERIFY(manager);
    QCOMPARE(_manager->processCount(), 1);
}

// Fault guarded: an answer that came after its time-out was read as the next request's answer.
void tst_FeedPluginManager::lateAnswerIsNotTakenForTheNext()
{
    _manager->downloadFeeds(channelOf("late", "wait"));
    setCallTimeout(ShortCall);
    QCOMPARE(_manager->channel().uri(), QString());
    setCallTimeout(LongCall);
    const FeedChannel second = _manager->channel();
    QCOMPARE(second.title(), QStringLiteral("answer 2"));
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
}

// Fault guarded: signal records read while a synchronous request waited were thrown away.
void tst_FeedPluginManager::signalsBesideAnAnswerAreKept()
{
    _manager->downloadFeeds(channelOf("good", "wait-progress"));
    QCOMPARE(_manager->channel().title(), QStringLiteral("answer 1"));
    QCOMPARE(_manager->channel().title(), QStringLiteral("answer 2"));
    QVERIFY(_recorder->events.isEmpty());
    QTRY_COMPARE(_recorder->events, QStringList({"progress 1/7", "progress 2/7"}));
}

void tst_FeedPluginManager::staleRecordsDoNotEndTheNextDownload()
{
    _manager->downloadFeeds(channelOf("stale"));
    QTRY_COMPARE(_recorder->events.size(), 4);
    _manager->resetActivePlugin();
    _recorder->events.clear();
    _manager->downloadFeeds(channelOf("stale"));
    QTRY_COMPARE(_recorder->events,
                 QStringList({"progress 1/3", "progress 2/3", "progress 3/3", "feedsFinished"}));
}

void tst_FeedPluginManager::restartsAreLimited()
{
    QStringList expected;
    for (int load = 1; load <= 5; ++load) {
        _manager->downloadFeeds(channelOf("garbage"));
        expected << "exited garbage";
        QTRY_COMPARE(_recorder->events, expected);
    }
    _manager->downloadFeeds(channelOf("garbage"));
    expected << "feedsFailed 202";
    QTRY_COMPARE(_recorder->events, expected);
    QCOMPARE(_manager->processCount(), 0);
}

void tst_FeedPluginManager::isBusy()
{
    QVERIFY(!_manager->isBusy());
    _manager->downloadFeeds(channelOf("hang"));
    QVERIFY(_manager->isBusy());
    QVERIFY(_recorder->events.isEmpty());
    // Fault guarded: a plug-in on its way out was taken for hung and replaced at once.
    _manager->unloadPlugins();
    QVERIFY(!_manager->isBusy());
    QTRY_COMPARE(_recorder->events, QStringList({"exited hang"}));
    QCOMPARE(_manager->processCount(), 0);
}

// Fault guarded: a plug-in that did not answer "elapsedTime" counted as busy for ever.
void tst_FeedPluginManager::silentPluginIsReplaced()
{
    _manager->downloadFeeds(channelOf("freeze"));
    // The same wait serves the unanswered question and the replacement's version check.
    setCallTimeout(1500);
    QVERIFY(!_manager->isBusy());
    // The replacement is active and answers; the old one's exit did not touch it.
    QCOMPARE(_manager->processCount(), 1);
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
    QTRY_COMPARE(_recorder->events, QStringList({"exited freeze"}));
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
}

// Fault guarded: a plug-in that died while the hang watch asked it was taken for hung and
// counted against its load limit, so that the sixth such exit locked the plug-in out.
void tst_FeedPluginManager::exitWhileAskedIsNoHang()
{
    for (int round = 0; round < 6; ++round) {
        _manager->downloadFeeds(channelOf("dying"));
        QTRY_COMPARE(_recorder->events, QStringList({"exited dying"}));
        _recorder->events.clear();
    }
}

void tst_FeedPluginManager::nameCaseSharesOneProcess()
{
    QFile::remove(communicationPath("Good"));
    QFile::remove(communicationPath("good"));
    _manager->downloadFeeds(channelOf("Good"));
    QTRY_COMPARE(_recorder->events.size(), 4);
    _manager->resetActivePlugin();
    _manager->downloadFeeds(channelOf("good"));
    QTRY_COMPARE(_recorder->events.size(), 8);
    QCOMPARE(_manager->processCount(), 1);
    QVERIFY(QFile::exists(communicationPath("Good")));
    QVERIFY(!QFile::exists(communicationPath("good")));
}

void tst_FeedPluginManager::communicationFileIsGuarded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("events");
    const QStringList refused = {"feedsFailed 202"};
    const QStringList accepted = {"progress 1/3", "progress 2/3", "progress 3/3", "feedsFinished"};
    QTest::newRow("symbolic link") << "symlink" << refused;
    QTest::newRow("directory") << "directory" << refused;
    QTest::newRow("another user's file") << "foreign" << refused;
    QTest::newRow("our file, too open") << "open" << accepted;
}

// Fault guarded: the file of a predictable name was followed through links and opened whoever owned it.
void tst_FeedPluginManager::communicationFileIsGuarded()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, events);
    const QString path = communicationPath("good");
    QFile::remove(path);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.path() + "/target";
    if (kind == "symlink") {
        QVERIFY(QFile::link(target, path));
    } else if (kind == "directory") {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0666) == 0);
        if (kind == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can give a file away");
            QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
        }
    }
    _manager->downloadFeeds(channelOf("good"));
    QTRY_COMPARE(_recorder->events, events);
    QVERIFY(!QFile::exists(target));
    if (kind == "open") {
        struct stat status;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(int(status.st_mode & 0777), 0600);
    }
    if (kind == "directory")
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

VIRELON_TEST_MAIN(tst_FeedPluginManager)

#include "tst_feedpluginmanager.moc"
