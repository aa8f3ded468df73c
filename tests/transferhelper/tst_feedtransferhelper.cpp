#include "feedchannel.h"
#include "feeddevicestatemanager.h"
#include "feedpluginmanager.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "feedtransferhelper.h"
#include "logrecorder.h"
#include "soldrin.h"
#include "storeendpoint.h"
#include "testenvironment.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QLibrary>
#include <QPointer>

#include <memory>

namespace {

const QString TransferUi = QStringLiteral("TransferUi");
const QString List = QStringLiteral("Soldrin");
const QStringList Fields = {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8"), QStringLiteral("10")};

// Channels by name, stored for each test with the fake plug-in "good": A is fetched well, B runs
// until cancelled, F fails with 404. Enclosures by name, by what the plug-in (the fake one again,
// as "tamsil") does with them: x finishes (its ".part" is there, so it is resumed and reports no
// progress), w and v run until cancelled, o runs until paused the first time and finishes the
// next (writing no file, and reporting progress 5 of 10).
const QStringList ChannelLinks = {"A ok", "B wait", "F fail-404"};
const QStringList EnclosureUrls = {"o once", "v wait", "w wait", "x ok"};

bool libraryLoaded()
{
    return QLibrary(qEnvironmentVariable("VIRELON_SOLDRIN_LIBRARY")).isLoaded();
}

bool writeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("part") == 4;
}

} // namespace

class tst_FeedTransferHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void firstQueueLoads();
    void alreadyLoaded();
    void table_data();
    void table();
    void missingLibrary();
    void sleepWithActiveDownload();
    void reloadConnectsTheNewList();
    void unloadRefused();

private:
    QString uri(const QString& name) const;
    // One event a line. The scheduler's signals, emitted here as the scheduler would:
    //   "queued A", "wanted A x", "completed A", "failed A 404", "unsubscribed A", "sleep",
    //   "started A x", "progress x <received>", "downloaded A x", "download-failed A x 500",
    //   "device <state> <change>"
    // Requests of the list: "list-cancel-refresh A", "list-cancel A x", "list-download A x";
    // the bridge's list form: "cancel A x y". Real work of the scheduler: "refresh A",
    // "download A x", "optional A x", "pauseEnclosures", "resumeEnclosures"; and "until <heard>"
    // waits for a signal of the scheduler: "fetching A", "started x" or "sleep".
    void apply(const QString& event);
    void applyAll(const QStringList& events);
    void hear(const QString& heard);
    // "code=value" pairs of the fields asked for; "" for an empty map.
    QString details(const QString& name) const;
    // The entry of a name as the table shows it: status, kind, bytes received and error code
    // when not 0; "gone" once it has been and is not.
    QString entry(const QString& name) const;
    // Notes each entry that changed.
    void snapshot();

    QTemporaryDir _dir;
    QProcess _bus;
    std::unique_ptr<StoreEndpoint> _endpoint;
    FeedTaskManager* _scheduler = nullptr;
    QHash<QString, QString> _channels;
    QHash<QString, FeedEnclosure> _enclosures;
    QHash<QString, QString> _entries;
    QStringList _table;
    QStringList _heard;
    QByteArray _library;
    int _row = 0;
};

void tst_FeedTransferHelper::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _library = qgetenv("VIRELON_SOLDRIN_LIBRARY");
    QVERIFY(_dir.isValid());
    QVERIFY(StoreEndpoint::startBus(&_bus, QStringLiteral(PRIVATE_BUS_CONFIG)));
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(_endpoint->start());
    const QString plugins = _dir.filePath(QStringLiteral("plugins"));
    QVERIFY(QDir().mkpath(plugins));
    for (const char* name : {"/good", "/tamsil"})
        QVERIFY(QFile::link(QStringLiteral(FAKE_PLUGIN), plugins + QLatin1String(name)));
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(plugins));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(_dir.path()));
    qputenv("VIRELON_CONFIG_DIR", QFile::encodeName(_dir.filePath(QStringLiteral("etc/virelon"))));
    QVERIFY(Virelon::instance()->start());
    FeedPluginManager::instance()->setLimits({5000, 5000, 30000, 500});
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
}

void tst_FeedTransferHelper::cleanupTestCase()
{
    FeedPluginManager::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    _endpoint.reset();
    _bus.terminate();
    _bus.waitForFinished();
}

// Each test has a scheduler of its own, whose bridge reads the library's path then, and
// channels and enclosures of its own.
void tst_FeedTransferHelper::init()
{
    ++_row;
    _channels.clear();
    _enclosures.clear();
    _entries.clear();
    _table.clear();
    _heard.clear();
    for (const QString& channel : ChannelLinks) {
        FeedChannel stored;
        stored.setType(QStringLiteral("good"));
        stored.setLink(QStringLiteral("%1:%2-%3").arg(channel.section(' ', 1)).arg(_row).arg(channel.section(' ', 0, 0)));
        const QString uri = FeedTrackerSparql::instance()->addChannel(stored);
        QVERIFY(!uri.isEmpty());
        _channels.insert(channel.section(' ', 0, 0), uri);
    }
    for (const QString& entry : EnclosureUrls) {
        const QString name = entry.section(' ', 0, 0);
        FeedEnclosure enclosure;
        enclosure.setUri(QStringLiteral("urn:test:%1-%2").arg(_row).arg(name));
        enclosure.setRemoteUrl(QStringLiteral("%1:%2-%3").arg(entry.section(' ', 1)).arg(_row).arg(name));
        enclosure.setLocalUrl(QStringLiteral("%1/%2-%3.bin").arg(VirelonPaths::enclosureDir()).arg(_row).arg(name));
        _enclosures.insert(name, enclosure);
    }
    QVERIFY(writeFile(_enclosures.value("x").localUrl() + QStringLiteral(".part")));

    _scheduler = FeedTaskManager::instance();
    connect(_scheduler, &FeedTaskManager::feedDownloadStarted, this, [this](const QString& channelUri) {
        _heard << QStringLiteral("fetching ") + _channels.key(channelUri);
    });
    connect(_scheduler, qOverload<const FeedChannel&, const FeedEnclosure&>(&FeedTaskManager::enclosureDownloadStarted),
            this, [this](const FeedChannel&, const FeedEnclosure& enclosure) {
                for (auto it = _enclosures.cbegin(); it != _enclosures.cend(); ++it) {
                    if (it.value().uri() == enclosure.uri())
                        _heard << QStringLiteral("started ") + it.key();
                }
            });
    connect(_scheduler, &FeedTaskManager::sleep, this, [this] { _heard << QStringLiteral("sleep"); });
}

// Whatever still runs is cancelled; no case leaves a download active, so the library goes with
// the next sleep.
void tst_FeedTransferHelper::cleanup()
{
    _scheduler->resumeEnclosures(false);
    _scheduler->cancelAll();
    QTRY_VERIFY_WITH_TIMEOUT(_scheduler->queuedFeeds().isEmpty() && _scheduler->queuedOptionalEnclosures().isEmpty(),
                             StoreEndpoint::timeoutMs());
    emit _scheduler->sleep();
    const bool unloaded = !libraryLoaded();
    FeedTaskManager::releaseInstance();
    qputenv("VIRELON_SOLDRIN_LIBRARY", _library);
    QVERIFY(unloaded);
}

QString tst_FeedTransferHelper::uri(const QString& name) const
{
    // Events without a name ("sleep", "pauseEnclosures") name nothing.
    return !name.isEmpty() && name.at(0).isUpper() ? _channels.value(name) : _enclosures.value(name).uri();
}

void tst_FeedTransferHelper::apply(const QString& event)
{
    const QStringList words = event.split(QLatin1Char(' '));
    const QString& verb = words.at(0);
    const QString a = words.value(1);
    const QString x = words.value(2);
    FeedChannel channel;
    channel.setUri(uri(a));
    const FeedEnclosure enclosure = _enclosures.value(x);
    if (verb == QLatin1String("queued"))
        emit _scheduler->feedDownloadQueued({uri(a)});
    else if (verb == QLatin1String("wanted"))
        emit _scheduler->manualEnclosureDownloadQueued(channel, enclosure);
    else if (verb == QLatin1String("completed"))
        emit _scheduler->refreshCompleted(uri(a));
    else if (verb == QLatin1String("failed"))
        emit _scheduler->feedsDownloadFailed(uri(a), x.toInt());
    else if (verb == QLatin1String("unsubscribed"))
        emit _scheduler->feedsUnsubscribed({uri(a)});
    else if (verb == QLatin1String("sleep"))
        emit _scheduler->sleep();
    else if (verb == QLatin1String("started"))
        emit _scheduler->enclosureDownloadStarted(channel, enclosure);
    else if (verb == QLatin1String("progress"))
        emit _scheduler->enclosureDownloadProgress(_enclosures.value(a), 1000, x.toLongLong(), 1);
    else if (verb == QLatin1String("downloaded"))
        emit _scheduler->enclosureDownloaded(uri(a), enclosure, 1);
    else if (verb == QLatin1String("download-failed"))
        emit _scheduler->enclosureDownloadFailed(uri(a), enclosure, words.at(3).toInt(), 1);
    else if (verb == QLatin1String("device"))
        emit FeedDeviceStateManager::instance()->deviceStateChanged(FeedDeviceState::State(a.toInt()),
                                                                     FeedDeviceState::Change(x.toInt()));
    else if (verb == QLatin1String("list-cancel-refresh"))
        emit Soldrin::instance()->cancelRefresh({uri(a)});
    else if (verb == QLatin1String("list-cancel"))
        emit Soldrin::instance()->cancelEnclosureDownload(uri(a), enclosure);
    else if (verb == QLatin1String("list-download"))
        emit Soldrin::instance()->downloadEnclosure(uri(a), enclosure);
    else if (verb == QLatin1String("cancel"))
        FeedTransferHelper::instance()->cancelEnclosureDownload(uri(a), {enclosure, _enclosures.value(words.at(3))});
    else if (verb == QLatin1String("refresh"))
        _scheduler->refresh({uri(a)});
    else if (verb == QLatin1String("download"))
        _scheduler->downloadEnclosure(uri(a), enclosure);
    else if (verb == QLatin1String("optional"))
        _scheduler->downloadEnclosure(uri(a), {enclosure}, FeedTask::OptionalEnclosurePriority);
    else if (verb == QLatin1String("pauseEnclosures"))
        _scheduler->pauseEnclosures(false);
    else if (verb == QLatin1String("resumeEnclosures"))
        _scheduler->resumeEnclosures(false);
    else if (verb == QLatin1String("until"))
        hear(event.section(' ', 1));
    else
        QFAIL(qPrintable(QStringLiteral("Unknown event: ") + event));
}

// Each signal heard is waited for once.
void tst_FeedTransferHelper::hear(const QString& heard)
{
    QTRY_VERIFY_WITH_TIMEOUT(_heard.contains(heard), StoreEndpoint::timeoutMs());
    _heard = _heard.mid(_heard.indexOf(heard) + 1);
}

void tst_FeedTransferHelper::applyAll(const QStringList& events)
{
    for (const QString& event : events) {
        apply(event);
        if (QTest::currentTestFailed())
            return;
    }
}

QString tst_FeedTransferHelper::details(const QString& name) const
{
    const QVariantMap details = _scheduler->transferDetails(uri(name), Fields);
    QStringList pairs;
    for (const QString& code : Fields) {
        if (details.contains(code))
            pairs << code + QLatin1Char('=') + details.value(code).toString();
    }
    return pairs.join(QLatin1Char(' '));
}

QString tst_FeedTransferHelper::entry(const QString& name) const
{
    const QVariantMap details = _scheduler->transferDetails(uri(name), Fields);
    if (details.isEmpty())
        return QStringLiteral("gone");
    QString text = details.value("2").toString() + QLatin1Char(' ') + details.value("4").toString();
    for (const char* code : {"8", "10"}) {
        if (details.value(code).toLongLong() != 0)
            text += QStringLiteral(" %1=%2").arg(code, details.value(code).toString());
    }
    return text;
}

void tst_FeedTransferHelper::snapshot()
{
    QStringList names = _channels.keys() + _enclosures.keys();
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        const QString now = entry(name);
        if (now != _entries.value(name, QStringLiteral("gone"))) {
            _entries.insert(name, now);
            _table << name + QLatin1Char(' ') + now;
        }
    }
}

void tst_FeedTransferHelper::firstQueueLoads()
{
    QVERIFY(!libraryLoaded());
    LogRecorder log;
    emit _scheduler->feedDownloadQueued({uri("A"), uri("B")});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Successfully loaded the library"}));
    QCOMPARE(log.functions(List), QStringList{"updateTransferOnSubscription"});
    QVERIFY(libraryLoaded());
    QCOMPARE(details("B"), QStringLiteral("2=queued 4=refresh 8=0 10=0"));
}

// Nothing is connected twice: one completion, one call.
void tst_FeedTransferHelper::alreadyLoaded()
{
    LogRecorder log;
    applyAll({"queued A", "wanted B x", "completed A", "list-cancel B x"});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Successfully loaded the library",
                          "Got manual enclosure download queued signal",
                          "Transfer library already loaded. Returning!!"}));
    QCOMPARE(log.functions(List), QStringList({"updateTransferOnSubscription", "updateTransferOnManualEnclosureQueued",
                                               "updateTransferOnFeedDownloadComplete",
                                               "updateTransferOnEnclosureDownloadFail"}));
}

void tst_FeedTransferHelper::table_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QStringList>("calls");

    const QString subscription = QStringLiteral("updateTransferOnSubscription");
    const QString queued = QStringLiteral("updateTransferOnManualEnclosureQueued");
    const QString start = QStringLiteral("updateTransferOnEnclosureDownloadStart");
    const QString progress = QStringLiteral("updateTransferOnEnclosureDownloadProgress");
    const QString complete = QStringLiteral("updateTransferOnEnclosureDownloadComplete");
    const QString fail = QStringLiteral("updateTransferOnEnclosureDownloadFail");
    const QString refreshDone = QStringLiteral("updateTransferOnFeedDownloadComplete");
    const QString refreshFailed = QStringLiteral("updateTransferOnFeedDownloadFailure");

    // Each connection made at the load, the scheduler's signals emitted here.
    QTest::newRow("refresh completed") << QStringList{"queued A", "completed A"}
                                       << QStringList{"A queued refresh", "A done refresh"}
                                       << QStringList{subscription, refreshDone};
    QTest::newRow("refresh failed") << QStringList{"queued A", "failed A 404"}
                                    << QStringList{"A queued refresh", "A failed refresh 10=404"}
                                    << QStringList{subscription, refreshFailed};
    QTest::newRow("unsubscribed") << QStringList{"queued A", "unsubscribed A"}
                                  << QStringList{"A queued refresh", "A gone"}
                                  << QStringList{subscription, "updateTransferOnUnsubscription"};
    QTest::newRow("download done")
        << QStringList{"queued A", "started A x", "progress x 300", "downloaded A x"}
        << QStringList{"A queued refresh", "x active download", "x active download 8=300", "x done download 8=300"}
        << QStringList{subscription, start, progress, complete};
    QTest::newRow("download failed")
        << QStringList{"queued A", "started A x", "download-failed A x 500"}
        << QStringList{"A queued refresh", "x active download", "x failed download 10=500"}
        << QStringList{subscription, start, fail};
    QTest::newRow("device state") << QStringList{"queued A", "device 2 0", "device 0 0"}
                                  << QStringList{"A queued refresh"}
                                  << QStringList{subscription, "updateTransferOnDeviceStateChange",
                                                 "updateTransferOnDeviceStateChange"};
    QTest::newRow("progress once after a restart")
        << QStringList{"queued A", "started A x", "started A x", "progress x 300", "downloaded A x", "progress x 400"}
        << QStringList{"A queued refresh", "x active download", "x active download 8=300", "x done download 8=300"}
        << QStringList{subscription, start, start, progress, complete};
    QTest::newRow("no progress of a download started before the load")
        << QStringList{"started A x", "queued A", "progress x 300"} << QStringList{"A queued refresh"}
        << QStringList{subscription};

    // Real work of the scheduler, and the list's requests reaching it.
    QTest::newRow("a refresh") << QStringList{"refresh A", "until sleep"}
                               << QStringList{"A queued refresh", "A done refresh", "A gone"}
                               << QStringList{subscription, refreshDone};
    QTest::newRow("a failing refresh") << QStringList{"refresh F", "until sleep"}
                                       << QStringList{"F queued refresh", "F failed refresh 10=404", "F gone"}
                                       << QStringList{subscription, refreshFailed};
    QTest::newRow("a download") << QStringList{"download A x", "until sleep"}
                                << QStringList{"x queued download", "x active download", "x done download", "x gone"}
                                << QStringList{queued, start, complete};
    QTest::newRow("the list asks for a download and cancels it")
        << QStringList{"queued A", "list-download A w", "until started w", "list-cancel A w", "until sleep"}
        << QStringList{"A queued refresh", "w queued download", "w active download", "w failed download 10=201",
                       "A gone", "w gone"}
        << QStringList{subscription, queued, start, fail};
    QTest::newRow("the list cancels a refresh")
        << QStringList{"refresh B", "until fetching B", "list-cancel-refresh B", "until sleep"}
        << QStringList{"B queued refresh", "B failed refresh 10=201", "B gone"}
        << QStringList{subscription, refreshFailed};
    // The list form takes the waiting optional one out of the queue without a word, and cancels
    // the running one.
    QTest::newRow("the list form cancels, not pauses")
        << QStringList{"download A w", "optional A v", "until started w", "cancel A w v", "until sleep"}
        << QStringList{"w queued download", "w active download", "w failed download 10=201", "w gone"}
        << QStringList{queued, start, fail};
    // The device's pause hands the download back without an end; it starts again, and its one
    // progress report reaches the list once. The plug-in writes no file, so it ends with 407.
    QTest::newRow("progress once after a device pause")
        << QStringList{"download A o", "until started o", "pauseEnclosures", "resumeEnclosures", "until sleep"}
        << QStringList{"o queued download", "o active download", "o active download 8=5",
                       "o failed download 8=5 10=407", "o gone"}
        << QStringList{queued, start, start, progress, fail};
}

void tst_FeedTransferHelper::table()
{
    QFETCH(QStringList, events);
    QFETCH(QStringList, table);
    QFETCH(QStringList, calls);

    LogRecorder log;
    // The list logs each change once made, and the bridge its unload.
    log.setListener([this](const LogRecorder::Line& line) {
        if (line.category == List || line.category == TransferUi)
            snapshot();
    });
    applyAll(events);
    QCOMPARE(_table, table);
    QCOMPARE(log.functions(List), calls);
}

void tst_FeedTransferHelper::missingLibrary()
{
    FeedTaskManager::releaseInstance();
    qputenv("VIRELON_SOLDRIN_LIBRARY", QFile::encodeName(_dir.filePath(QStringLiteral("no-such/libSoldrin.so"))));
    init();
    LogRecorder log;
    applyAll({"refresh A", "until sleep", "download A x", "until sleep"});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Failed to load the transfer library. Returning!!",
                          "Transfer Library is not loaded!! Nothing to do now",
                          "Got manual enclosure download queued signal",
                          "Failed to load the transfer library. Returning!!",
                          "Transfer Library is not loaded!! Nothing to do now"}));
    QVERIFY(log.functions(List).isEmpty());
    QCOMPARE(details("A"), QString());
    QVERIFY(QFile::exists(_enclosures.value("x").localUrl()));
}

void tst_FeedTransferHelper::sleepWithActiveDownload()
{
    applyAll({"queued A", "started A x"});
    LogRecorder log;
    apply(QStringLiteral("sleep"));
    QCOMPARE(log.messages(TransferUi),
             QStringList{"There are still some pending transfers. Cannot unload library"});
    QVERIFY(libraryLoaded());
    QCOMPARE(details("x"), QStringLiteral("2=active 4=download 8=0 10=0"));

    applyAll({"downloaded A x", "sleep"});
    QCOMPARE(log.messages(TransferUi).last(), QStringLiteral("Successfully unloaded the library"));
    QVERIFY(!libraryLoaded());
    QCOMPARE(details("x"), QString());
}

void tst_FeedTransferHelper::reloadConnectsTheNewList()
{
    apply(QStringLiteral("queued A"));
    QPointer<Soldrin> first(Soldrin::instance());
    apply(QStringLiteral("sleep"));
    QVERIFY(first.isNull());

    LogRecorder log;
    applyAll({"queued B", "completed B"});
    QCOMPARE(log.functions(List), QStringList({"updateTransferOnSubscription", "updateTransferOnFeedDownloadComplete"}));
    QCOMPARE(details("B"), QStringLiteral("2=done 4=refresh 8=0 10=0"));
    QCOMPARE(details("A"), QString());
}

// Someone else holds the library: the unload fails, the list is gone all the same, and the next
// queued work takes up the new list.
void tst_FeedTransferHelper::unloadRefused()
{
    QLibrary holder(qEnvironmentVariable("VIRELON_SOLDRIN_LIBRARY"));
    QVERIFY(holder.load());
    applyAll({"queued A", "sleep"});
    QVERIFY(libraryLoaded());

    LogRecorder log;
    applyAll({"started A x", "progress x 10", "downloaded A x", "sleep"});
    QCOMPARE(details("A"), QString());
    QVERIFY(log.functions(List).isEmpty());
    QCOMPARE(log.messages(TransferUi), QStringList{"Transfer Library is not loaded!! Nothing to do now"});

    applyAll({"queued B", "completed B"});
    QCOMPARE(log.functions(List), QStringList({"updateTransferOnSubscription", "updateTransferOnFeedDownloadComplete"}));
    QCOMPARE(details("B"), QStringLiteral("2=done 4=refresh 8=0 10=0"));
    apply(QStringLiteral("sleep"));
    QVERIFY(holder.unload());
}

VIRELON_TEST_MAIN(tst_FeedTransferHelper)
#include "tst_feedtransferhelper.moc"
