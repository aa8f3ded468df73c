#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "storetestsupport.h"
#include "testenvironment.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qsparqlconnection.h>

using namespace StoreTestSupport;

// A store that answers queries but refuses every update: the test runs a bus of its own
// whose policy, reloaded after the data is written, denies the store's update calls.
class tst_StoreFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusedDeletionsAnnounceNothing();
    void refusedWritesReportFailure();

public slots:
    void handleEnclosureDeletion(QList<FeedEnclosure>& enclosureList) { _announced += enclosureList; }

private:
    bool writeBusConfig(bool refuseUpdates);
    int enclosureCount() const;

    QTemporaryDir _dir;
    QProcess _bus;
    std::unique_ptr<StoreEndpoint> _endpoint;
    QList<FeedEnclosure> _announced;
    QString _channel;
    QString _iconPath;
};

bool tst_StoreFailures::writeBusConfig(bool refuseUpdates)
{
    const QString name = _endpoint->serviceName();
    const QString refusal = QStringLiteral(
        "<deny send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\"/>"
        "<allow send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\" send_member=\"Query\"/>")
                                .arg(name);
    QFile config(_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write(QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/>%1</policy></busconfig>\n")
                     .arg(refuseUpdates ? refusal : QString())
                     .toUtf8());
    return true;
}

int tst_StoreFailures::enclosureCount() const
{
    QSparqlConnection connection(QStringLiteral("QTRACKER_DIRECT"));
    return select(&connection, QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size();
}

void tst_StoreFailures::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(writeBusConfig(false));
    _bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + _dir.filePath(QStringLiteral("bus.conf")),
                                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    QVERIFY(_bus.waitForStarted());
    while (!_bus.canReadLine())
        QVERIFY2(_bus.waitForReadyRead(StoreEndpoint::timeoutMs()), "the private bus did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", _bus.readLine().trimmed());
    QVERIFY(_endpoint->start());
    captureLog();

    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    connect(store, SIGNAL(enclosuresToBeDeleted(QList<FeedEnclosure>&)), this,
            SLOT(handleEnclosureDeletion(QList<FeedEnclosure>&)));
    _iconPath = _dir.filePath(QStringLiteral("icon.png"));
    QFile icon(_iconPath);
    QVERIFY(icon.open(QIODevice::WriteOnly));
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/feed"));
    FeedEnclosure iconRecord;
    iconRecord.setRemoteUrl(QStringLiteral("http://example.com/icon.png"));
    iconRecord.setLocalUrl(_iconPath);
    channel.setIcon(iconRecord);
    _channel = store->addChannel(channel);
    QVERIFY(!_channel.isEmpty());
    FeedMessage message;
    message.setLink(QStringLiteral("http://example.com/m"));
    FeedEnclosure media;
    media.setRemoteUrl(QStringLiteral("http://example.com/m.mp3"));
    media.setLocalUrl(QStringLiteral("/x/m.mp3"));
    message.setEnclosures({media});
    QVERIFY(store->addMessages({message}, _channel));
    FeedEnclosure orphan = media;
    orphan.setRemoteUrl(QStringLiteral("http://example.com/orphan.mp3"));
    QVERIFY(store->addEnclosures({orphan}, QStringLiteral("urn:uuid:gone")));
    QCOMPARE(enclosureCount(), 3);

    QVERIFY(writeBusConfig(true));
    QDBusInterface bus(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                       QStringLiteral("org.freedesktop.DBus"));
    QDBusReply<void> reloaded = bus.call(QStringLiteral("ReloadConfig"));
    QVERIFY(reloaded.isValid());
    takeLog();
}

void tst_StoreFailures::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _endpoint.reset();
    _bus.terminate();
    _bus.waitForFinished();
}

// Files of enclosures whose records stay must stay too, and their downloads go on.
void tst_StoreFailures::refusedDeletionsAnnounceNothing()
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    const QList<FeedEnclosure> stored = store->enclosuresForMessage(_channel);
    QCOMPARE(stored.size(), 1);
    store->deleteEnclosures(QList<QUrl>{QUrl(stored.at(0).uri())});
    QCOMPARE(countLogged(QStringLiteral("Delete Query Failed")), 1);
    store->deleteOrphans();
    QCOMPARE(countLogged(QStringLiteral("Error in query execution: ")), 1);
    QCOMPARE(countLogged(QStringLiteral("enclosure deletion count: ")), 1);
    QCOMPARE(countLogged(QStringLiteral("Query preperation failed: ")), 1);
    QVERIFY(!store->deleteMessages(_channel));
    store->deleteChannel(_channel);
    QCOMPARE(countLogged(QStringLiteral("Query Execution Failed ")), 1);
    const QString message = store->allMessageUrls(_channel).value(0);
    QVERIFY(!message.isEmpty());
    store->deleteMessage(message, _channel);
    store->deleteEnclosure(stored.at(0).uri());
    QVERIFY(_announced.isEmpty());
    QCOMPARE(enclosureCount(), 3);
    QCOMPARE(store->allChannelUrls(), QStringList{_channel});
    QVERIFY(QFile::exists(_iconPath));
}

void tst_StoreFailures::refusedWritesReportFailure()
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/new"));
    QVERIFY(store->addChannel(channel).isEmpty());
    channel.setUri(_channel);
    QVERIFY(!store->updateChannel(channel));
    QVERIFY(!store->editChannel(_channel, {{FeedTrackerSparql::TitleKey, QStringLiteral("t")}}));
    FeedMessage message;
    message.setLink(QStringLiteral("http://example.com/other"));
    QVERIFY(!store->addMessages({message}, _channel));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/m.mp3"));
    QVERIFY(!store->updateEnclosure(enclosure));
    QCOMPARE(store->allMessageUrls(_channel).size(), 1);
}

VIRELON_TEST_MAIN(tst_StoreFailures)
#include "tst_storefailures.moc"
