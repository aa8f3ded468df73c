#include "feedchannel.h"
#include "feeddevicestatemanager.h"
#include "feedtaskmanager.h"
#include "feedtransferhelper.h"
#include "logrecorder.h"
#include "soldrin.h"
#include "testenvironment.h"

#include <QLibrary>
#include <QPointer>

namespace {

const QString TransferUi = QStringLiteral("TransferUi");
const QString List = QStringLiteral("Soldrin");
const QStringList Fields = {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8"), QStringLiteral("10")};

FeedChannel channel(const QString& name)
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:channel:") + name);
    return channel;
}

FeedEnclosure enclosure(const QString& name)
{
    FeedEnclosure enclosure;
    enclosure.setUri(QStringLiteral("urn:enclosure:") + name);
    enclosure.setRemoteUrl(QStringLiteral("http://127.0.0.1/") + name);
    return enclosure;
}

QString uri(const QString& name)
{
    return name.size() == 1 && name.at(0).isUpper() ? channel(name).uri() : enclosure(name).uri();
}

bool libraryLoaded()
{
    return QLibrary(QStringLiteral(SOLDRIN_LIBRARY)).isLoaded();
}

// One event a line, from the scheduler, the device, the list or a direct call:
//   "queued A", "wanted A x", "completed A", "failed A 404", "unsubscribed A", "sleep"
//   "started A x", "progress x <received>", "downloaded A x", "download-failed A x 500"
//   "device <state> <change>"
//   "list-cancel-refresh A", "list-cancel A x", "list-download A x"   requests of the list
//   "cancel A x y"                                                      the bridge's list form
void apply(const QString& event)
{
    FeedTaskManager* scheduler = FeedTaskManager::instance();
    const QStringList words = event.split(QLatin1Char(' '));
    const QString& verb = words.at(0);
    const QString a = words.value(1);
    const QString x = words.value(2);
    if (verb == QLatin1String("queued"))
        emit scheduler->feedDownloadQueued({uri(a)});
    else if (verb == QLatin1String("wanted"))
        emit scheduler->manualEnclosureDownloadQueued(channel(a), enclosure(x));
    else if (verb == QLatin1String("completed"))
        emit scheduler->refreshCompleted(uri(a));
    else if (verb == QLatin1String("failed"))
        emit scheduler->feedsDownloadFailed(uri(a), x.toInt());
    else if (verb == QLatin1String("unsubscribed"))
        emit scheduler->feedsUnsubscribed({uri(a)});
    else if (verb == QLatin1String("sleep"))
        emit scheduler->sleep();
    else if (verb == QLatin1String("started"))
        emit scheduler->enclosureDownloadStarted(channel(a), enclosure(x));
    else if (verb == QLatin1String("progress"))
        emit scheduler->enclosureDownloadProgress(enclosure(a), 1000, x.toLongLong(), 1);
    else if (verb == QLatin1String("downloaded"))
        emit scheduler->enclosureDownloaded(uri(a), enclosure(x), 1);
    else if (verb == QLatin1String("download-failed"))
        emit scheduler->enclosureDownloadFailed(uri(a), enclosure(x), words.at(3).toInt(), 1);
    else if (verb == QLatin1String("device"))
        emit FeedDeviceStateManager::instance()->deviceStateChanged(FeedDeviceState::State(a.toInt()),
                                                                     FeedDeviceState::Change(x.toInt()));
    else if (verb == QLatin1String("list-cancel-refresh"))
        emit Soldrin::instance()->cancelRefresh({uri(a)});
    else if (verb == QLatin1String("list-cancel"))
        emit Soldrin::instance()->cancelEnclosureDownload(uri(a), enclosure(x));
    else if (verb == QLatin1String("list-download"))
        emit Soldrin::instance()->downloadEnclosure(uri(a), enclosure(x));
    else if (verb == QLatin1String("cancel"))
        FeedTransferHelper::instance()->cancelEnclosureDownload(uri(a), {enclosure(x), enclosure(words.at(3))});
    else
        QFAIL(qPrintable(QStringLiteral("Unknown event: ") + event));
}

void applyAll(const QStringList& events)
{
    for (const QString& event : events)
        apply(event);
}

// "code=value" pairs of the fields asked for; "" for an empty map.
QString details(const QString& name)
{
    const QVariantMap details = FeedTransferHelper::instance()->transferDetails(uri(name), Fields);
    QStringList pairs;
    for (const QString& code : Fields) {
        if (details.contains(code))
            pairs << code + QLatin1Char('=') + details.value(code).toString();
    }
    return pairs.join(QLatin1Char(' '));
}

} // namespace

class tst_FeedTransferHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void firstQueueLoads();
    void alreadyLoaded();
    void reachesTheList_data();
    void reachesTheList();
    void missingLibrary();
    void sleepWithActiveDownload();
    void reloadConnectsTheNewList();
    void unloadRefused();
};

void tst_FeedTransferHelper::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_SOLDRIN_LIBRARY", SOLDRIN_LIBRARY);
}

// Every case leaves no download active, so that the library goes with the next sleep.
void tst_FeedTransferHelper::cleanup()
{
    apply(QStringLiteral("sleep"));
    FeedTransferHelper::releaseInstance();
    qputenv("VIRELON_SOLDRIN_LIBRARY", SOLDRIN_LIBRARY);
    QVERIFY(!libraryLoaded());
}

void tst_FeedTransferHelper::firstQueueLoads()
{
    FeedTransferHelper::instance();
    QVERIFY(!libraryLoaded());
    LogRecorder log;
    emit FeedTaskManager::instance()->feedDownloadQueued({uri("A"), uri("B")});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Successfully loaded the library"}));
    QCOMPARE(log.functions(List), QStringList{"updateTransferOnSubscription"});
    QVERIFY(libraryLoaded());
    QCOMPARE(details("B"), QStringLiteral("2=queued 4=refresh 8=0 10=0"));
}

// Nothing is connected twice: one completion, one call.
void tst_FeedTransferHelper::alreadyLoaded()
{
    FeedTransferHelper::instance();
    LogRecorder log;
    applyAll({"queued A", "wanted B x", "completed A"});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Successfully loaded the library",
                          "Got manual enclosure download queued signal",
                          "Transfer library already loaded. Returning!!"}));
    QCOMPARE(log.functions(List), QStringList({"updateTransferOnSubscription", "updateTransferOnManualEnclosureQueued",
                                               "updateTransferOnFeedDownloadComplete"}));
}

void tst_FeedTransferHelper::reachesTheList_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("refresh completed") << QStringList{"queued A", "completed A"} << "A" << "2=done 4=refresh 8=0 10=0"
                                       << QStringList{"updateTransferOnFeedDownloadComplete"};
    QTest::newRow("refresh failed") << QStringList{"queued A", "failed A 404"} << "A"
                                    << "2=failed 4=refresh 8=0 10=404"
                                    << QStringList{"updateTransferOnFeedDownloadFailure"};
    QTest::newRow("unsubscribed") << QStringList{"queued A", "unsubscribed A"} << "A" << ""
                                  << QStringList{"updateTransferOnUnsubscription"};
    QTest::newRow("download done")
        << QStringList{"queued A", "started A x", "progress x 300", "downloaded A x"} << "x"
        << "2=done 4=download 8=300 10=0"
        << QStringList{"updateTransferOnEnclosureDownloadStart", "updateTransferOnEnclosureDownloadProgress",
                       "updateTransferOnEnclosureDownloadComplete"};
    QTest::newRow("download failed") << QStringList{"queued A", "started A x", "download-failed A x 500"} << "x"
                                     << "2=failed 4=download 8=0 10=500"
                                     << QStringList{"updateTransferOnEnclosureDownloadStart",
                                                    "updateTransferOnEnclosureDownloadFail"};
    QTest::newRow("device state") << QStringList{"queued A", "device 2 0"} << "A" << "2=queued 4=refresh 8=0 10=0"
                                  << QStringList{"updateTransferOnDeviceStateChange"};
    QTest::newRow("the list cancels a refresh")
        << QStringList{"queued A", "list-cancel-refresh A"} << "A" << "2=failed 4=refresh 8=0 10=201"
        << QStringList{"updateTransferOnFeedDownloadFailure"};
    QTest::newRow("the list cancels a download")
        << QStringList{"wanted A x", "list-cancel A x"} << "x" << "2=failed 4=download 8=0 10=201"
        << QStringList{"updateTransferOnEnclosureDownloadFail"};
    QTest::newRow("the list asks for a download")
        << QStringList{"queued A", "list-download A x"} << "x" << "2=queued 4=download 8=0 10=0"
        << QStringList{"updateTransferOnManualEnclosureQueued"};
    QTest::newRow("the list form cancels each, not pauses")
        << QStringList{"wanted A x", "wanted A y", "cancel A x y"} << "y" << "2=failed 4=download 8=0 10=201"
        << QStringList{"updateTransferOnManualEnclosureQueued", "updateTransferOnEnclosureDownloadFail",
                       "updateTransferOnEnclosureDownloadFail"};
    QTest::newRow("progress once after a restart")
        << QStringList{"queued A", "started A x", "started A x", "progress x 300", "downloaded A x", "progress x 400"}
        << "x" << "2=done 4=download 8=300 10=0"
        << QStringList{"updateTransferOnEnclosureDownloadStart", "updateTransferOnEnclosureDownloadStart",
                       "updateTransferOnEnclosureDownloadProgress", "updateTransferOnEnclosureDownloadComplete"};
    QTest::newRow("no progress of a download started before the load")
        << QStringList{"started A x", "queued A", "progress x 300"} << "x" << ""
        << QStringList{"updateTransferOnSubscription"};
}

// Each connection made at the load reaches the list, each request of the list the scheduler.
void tst_FeedTransferHelper::reachesTheList()
{
    QFETCH(QStringList, events);
    QFETCH(QString, id);
    QFETCH(QString, details);
    QFETCH(QStringList, calls);

    FeedTransferHelper::instance();
    apply(events.takeFirst());
    LogRecorder log;
    applyAll(events);
    QCOMPARE(log.functions(List), calls);
    QCOMPARE(::details(id), details);
}

void tst_FeedTransferHelper::missingLibrary()
{
    qputenv("VIRELON_SOLDRIN_LIBRARY", QFile::encodeName(QDir::tempPath() + QStringLiteral("/no-such/libSoldrin.so")));
    FeedTransferHelper::instance();
    LogRecorder log;
    applyAll({"queued A", "wanted A x", "started A x", "progress x 10", "downloaded A x", "sleep"});
    QCOMPARE(log.messages(TransferUi),
             QStringList({"Got feed download queued signal", "Failed to load the transfer library. Returning!!",
                          "Got manual enclosure download queued signal",
                          "Failed to load the transfer library. Returning!!",
                          "Transfer Library is not loaded!! Nothing to do now"}));
    QVERIFY(log.functions(List).isEmpty());
    QCOMPARE(details("A"), QString());
}

void tst_FeedTransferHelper::sleepWithActiveDownload()
{
    FeedTransferHelper::instance();
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
    FeedTransferHelper::instance();
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
    QLibrary holder(QStringLiteral(SOLDRIN_LIBRARY));
    QVERIFY(holder.load());
    FeedTransferHelper::instance();
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
