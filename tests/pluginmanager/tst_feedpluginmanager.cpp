#include "feedpluginmanager.h"
#include "testenvironment.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Calls that are meant to time out, and calls that must not.
constexpr int ShortCall = 600;
constexpr int LongCall = 5000;

const QStringList Scenarios = {"good", "tamsil", "Good", "wrongversion", "mute", "crash", "hang", "freeze",
                               "dying", "split", "garbage", "oversized", "hostile", "unknown", "late", "stale",
                               // Programs that exist, under names the manager must refuse.
                               "good.data", "go od", "sub/good"};
const QStringList Fetched = {"progress 1/3", "progress 2/3", "progress 3/3", "feedsFinished"};

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

class tst_FeedPluginManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void relaysResults_data();
    void relaysResults();
    void answersBesideSignals();
    void lateAnswerIsNotTakenForTheNext();
    void faultEndsTheDownload_data();
    void faultEndsTheDownload();
    void enclosureWithoutPluginReportsFailure();
    void loadLimit_data();
    void loadLimit();
    void isBusyWhileStopping();
    void silentPluginIsReplaced();
    void communicationFileIsGuarded_data();
    void communicationFileIsGuarded();
    void communicationFolderIsTheUsers();

private:
    void setCallTimeout(int milliseconds)
    {
        FeedPluginManager::Limits limits = _manager->limits();
        limits.callTimeout = milliseconds;
        _manager->setLimits(limits);
    }

    QString communicationPath(const QString& name) const { return _comm.path() + '/' + name + ".data"; }

    // Every signal of the manager in one list, so that order and counts are checked.
    void record(const QString& event) { _events.append(event); }

    QTemporaryDir _plugins;
    QTemporaryDir _comm;
    FeedPluginManager* _manager = nullptr;
    QStringList _events;
};

void tst_FeedPluginManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_plugins.isValid() && _comm.isValid());
    QVERIFY(QDir(_plugins.path()).mkdir("sub") && QDir(_comm.path()).mkdir("sub"));
    for (const QString& scenario : Scenarios)
        QVERIFY(QFile::link(QStringLiteral(FAKE_PLUGIN), _plugins.path() + '/' + scenario));
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(_plugins.path()));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(_comm.path()));
}

void tst_FeedPluginManager::init()
{
    _manager = FeedPluginManager::instance();
    // A fresh plug-in must answer its version check even on a loaded machine; tests whose point
    // is a call that times out shorten the wait once the plug-in runs.
    _manager->setLimits({5000, LongCall, 300, 500}); // start, call, hang limit, stop grace
    _events.clear();
    auto m = _manager;
    connect(m, &FeedPluginManager::downloadFeedsFinished, this, [this]() { record("feedsFinished"); });
    connect(m, &FeedPluginManager::downloadFeedsFailed, this, [this](int code) { record(QString("feedsFailed %1").arg(code)); });
    connect(m, &FeedPluginManager::downloadEnclosureFinished, this, [this](const QVariantMap& map) {
        record("enclosureFinished " + map.value("mimeType").toString() + ' ' + map.value("length").toString());
    });
    connect(m, &FeedPluginManager::downloadEnclosureFailed, this,
            [this](int code) { record(QString("enclosureFailed %1").arg(code)); });
    connect(m, &FeedPluginManager::enclosureDownloadProgress, this,
            [this](qlonglong received, qlonglong total) { record(QString("progress %1/%2").arg(received).arg(total)); });
    connect(m, &FeedPluginManager::pluginExited, this, [this](const QString& type) { record("exited " + type); });
}

void tst_FeedPluginManager::cleanup()
{
    FeedPluginManager::releaseInstance();
}

void tst_FeedPluginManager::relaysResults_data()
{
    // A request is "feeds" or "enclosure" or "resume", optionally sent to wait for "cancel" or "pause".
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("events");
    // The second round names the plug-in in lower case: one process, whose file keeps the first name.
    QTest::newRow("feeds") << "Good" << "feeds" << Fetched;
    QTest::newRow("enclosure") << "tamsil" << "enclosure"
                               << QStringList{"progress 5/10", "enclosureFinished new /tmp/enclosure.mp3.part"};
    QTest::newRow("resumed enclosure") << "tamsil" << "resume"
                                       << QStringList{"enclosureFinished resumed /tmp/enclosure.mp3.part"};
    QTest::newRow("cancelled feeds") << "good" << "feeds cancel" << QStringList{"feedsFailed 201"};
    QTest::newRow("cancelled enclosure") << "tamsil" << "enclosure cancel" << QStringList{"enclosureFailed 201"};
    QTest::newRow("paused enclosure") << "tamsil" << "enclosure pause" << QStringList{"enclosureFailed 203"};
    QTest::newRow("record split in two writes") << "split" << "feeds" << QStringList{"feedsFailed 404"};
    // Fault guarded: a record named "deleteLater" destroyed the manager.
    QTest::newRow("unknown records") << "unknown" << "feeds" << Fetched;
    // Fault guarded: a record of the previous download ended the next one.
    QTest::newRow("stale records") << "stale" << "feeds" << Fetched;
}

// Each request twice: the second goes to the same process.
void tst_FeedPluginManager::relaysResults()
{
    QFETCH(QString, type);
    QFETCH(QString, request);
    QFETCH(QStringList, events);
    QPointer<FeedPluginManager> manager(_manager);
    const QStringList words = request.split(' ');
    const QString target = words.size() > 1 ? "wait" : "http://127.0.0.1/a";
    _manager->cancelDownload(false); // no plug-in yet: nothing to tell
    for (int round = 0; round < 2; ++round) {
        if (words.first() == "feeds")
            _manager->downloadFeeds(channelOf(round ? type.toLower() : type, target));
        else
            _manager->downloadEnclosure(enclosureAt(target), words.first() == "resume");
        // Records are re-emitted from the event loop, never inside the request.
        QVERIFY(_events.isEmpty());
        if (words.size() > 1) {
            QVERIFY(_manager->isBusy());
            _manager->cancelDownload(words.last() == "pause");
        }
        QTRY_COMPARE(_events, events);
        QVERIFY(manager);
        _events.clear();
        _manager->resetActivePlugin();
    }
    QCOMPARE(_manager->processCount(), 1);
    QVERIFY(QFile::exists(communicationPath(type)));
}

// Fault guarded: signal records read while a synchronous request waited were thrown away.
void tst_FeedPluginManager::answersBesideSignals()
{
    _manager->downloadFeeds(channelOf("good", "wait-progress"));
    QCOMPARE(_manager->channel().title(), QStringLiteral("answer 1"));
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
    const FeedChannel second = _manager->channel();
    QCOMPARE(second.title(), QStringLiteral("answer 2"));
    QCOMPARE(second.uri(), QStringLiteral("urn:channel:good"));
    QVERIFY(_events.isEmpty());
    QTRY_COMPARE(_events, QStringList({"progress 1/7", "progress 2/7"}));
    QFile file(communicationPath("good"));
    QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
}

// Fault guarded: an answer that came after its time-out was read as the next request's answer.
void tst_FeedPluginManager::lateAnswerIsNotTakenForTheNext()
{
    _manager->downloadFeeds(channelOf("late", "wait"));
    setCallTimeout(ShortCall);
    QCOMPARE(_manager->channel().title(), QString());
    // "answer 1" comes while this call waits, in the file truncated for it.
    QCOMPARE(_manager->channel().title(), QString());
    setCallTimeout(LongCall);
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
}

void tst_FeedPluginManager::faultEndsTheDownload_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("event");
    // Fault guarded: a request that could not be sent left the task waiting forever.
    QTest::newRow("no such program") << "missing" << "feedsFailed 202";
    QTest::newRow("wrong version") << "wrongversion" << "feedsFailed 202";
    QTest::newRow("no answer") << "mute" << "feedsFailed 202";
    QTest::newRow("empty name") << "" << "feedsFailed 202";
    QTest::newRow("path in name") << "sub/good" << "feedsFailed 202";
    QTest::newRow("dot in name") << "good.data" << "feedsFailed 202";
    QTest::newRow("blank in name") << "go od" << "feedsFailed 202";
    // A fault in the middle of a download ends it through pluginExited.
    QTest::newRow("crash") << "crash" << "exited crash";
    QTest::newRow("no progress") << "hang" << "exited hang";
    QTest::newRow("frozen event loop") << "freeze" << "exited freeze";
    QTest::newRow("garbage record") << "garbage" << "exited garbage";
    QTest::newRow("oversized record") << "oversized" << "exited oversized";
    // Fault guarded: the huge count in the record's value aborted the daemon; the record is dropped.
    QTest::newRow("huge count in a record") << "hostile" << "exited hostile";
}

void tst_FeedPluginManager::faultEndsTheDownload()
{
    QFETCH(QString, type);
    QFETCH(QString, event);
    const bool starts = event.startsWith("exited");
    if (!starts)
        setCallTimeout(ShortCall);
    _manager->downloadFeeds(channelOf(type));
    setCallTimeout(ShortCall);
    QTRY_COMPARE(_events, QStringList{event});
    QCOMPARE(_manager->processCount(), 0);
    QVERIFY(!_manager->isBusy());
    if (starts) {
        setCallTimeout(LongCall);
        _manager->downloadFeeds(channelOf(type));
        QCOMPARE(_manager->processCount(), 1);
    } else {
        QCOMPARE(_manager->channel().uri(), QStringLiteral("urn:channel:") + type);
    }
}

void tst_FeedPluginManager::enclosureWithoutPluginReportsFailure()
{
    QTemporaryDir empty;
    const QByteArray plugins = qgetenv("VIRELON_PLUGIN_DIR");
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(empty.path()));
    _manager->downloadEnclosure(enclosureAt("http://127.0.0.1/a.mp3"), false);
    qputenv("VIRELON_PLUGIN_DIR", plugins);
    QTRY_COMPARE(_events, QStringList({"enclosureFailed 202"}));
}

void tst_FeedPluginManager::loadLimit_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sixth");
    QTest::newRow("broken plug-in") << "garbage" << "feedsFailed 202";
    // Fault guarded: a plug-in that died while the hang watch asked it was taken for hung and
    // counted against its load limit, so that the sixth such exit locked the plug-in out.
    QTest::newRow("exit while asked is no hang") << "dying" << "exited dying";
}

void tst_FeedPluginManager::loadLimit()
{
    QFETCH(QString, type);
    QFETCH(QString, sixth);
    for (int load = 0; load < 6; ++load) {
        _manager->downloadFeeds(channelOf(type));
        QTRY_COMPARE(_events, QStringList{load < 5 ? "exited " + type : sixth});
        _events.clear();
    }
    QCOMPARE(_manager->processCount(), 0);
}

// Fault guarded: a plug-in on its way out was taken for hung and replaced at once.
void tst_FeedPluginManager::isBusyWhileStopping()
{
    QVERIFY(!_manager->isBusy());
    _manager->downloadFeeds(channelOf("hang"));
    QVERIFY(_manager->isBusy());
    _manager->unloadPlugins();
    QVERIFY(!_manager->isBusy());
    QTRY_COMPARE(_events, QStringList({"exited hang"}));
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
    QTRY_COMPARE(_events, QStringList({"exited freeze"}));
    QCOMPARE(_manager->version(), QStringLiteral("0.1"));
}

void tst_FeedPluginManager::communicationFileIsGuarded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("symbolic link") << "symlink" << QStringList{"feedsFailed 202"};
    QTest::newRow("directory") << "directory" << QStringList{"feedsFailed 202"};
    QTest::newRow("another user's file") << "foreign" << QStringList{"feedsFailed 202"};
    QTest::newRow("our file, too open") << "open" << Fetched;
}

// Fault guarded: the file of a predictable name was followed through links and opened whoever owned it.
void tst_FeedPluginManager::communicationFileIsGuarded()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, events);
    const QString path = communicationPath("good");
    const QByteArray file = QFile::encodeName(path);
    QFile::remove(path);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.path() + "/target";
    if (kind == "symlink") {
        QVERIFY(QFile::link(target, path));
    } else if (kind == "directory") {
        QVERIFY(QDir().mkpath(path));
    } else {
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QCOMPARE(::chmod(file.constData(), 0666), 0);
        if (kind == "foreign" && ::geteuid() != 0)
            QSKIP("only root can give a file away");
        if (kind == "foreign")
            QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
    }
    _manager->downloadFeeds(channelOf("good"));
    QTRY_COMPARE(_events, events);
    QVERIFY(!QFile::exists(target));
    struct stat status;
    if (kind == "open")
        QCOMPARE(::stat(file.constData(), &status) == 0 ? int(status.st_mode & 0777) : -1, 0600);
    QDir(path).removeRecursively();
    QFile::remove(path);
}

// Regression: the file had a fixed name in a shared folder, so any local user who planted it
// there blocked fetching for good. Where the session has a runtime folder, a folder of the
// user's own in it holds the file.
void tst_FeedPluginManager::communicationFolderIsTheUsers()
{
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray configured = qgetenv("VIRELON_COMM_DIR");
    qunsetenv("VIRELON_COMM_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    _manager->downloadFeeds(channelOf("good"));
    qputenv("VIRELON_COMM_DIR", configured);
    QTRY_COMPARE(_events, Fetched);
    const QString folder = runtime.path() + QStringLiteral("/virelon");
    struct stat status;
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &status), 0);
    QCOMPARE(int(status.st_mode & 0777), 0700);
    QVERIFY(QFile::exists(folder + QStringLiteral("/good.data")));
    QVERIFY(!QFile::exists(communicationPath("good")));
}

VIRELON_TEST_MAIN(tst_FeedPluginManager)

#include "tst_feedpluginmanager.moc"
