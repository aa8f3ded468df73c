#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <virelonpaths.h>

// A store that answers queries but refuses every update: the test runs a bus of its own
// whose policy, reloaded after the data is written, denies the store's update calls.
class tst_StoreFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusedDeletionsAnnounceNothing();
    void refusedLookupFailsTheWrite();

public slots:
    void handleEnclosureDeletion(QList<FeedEnclosure>& enclosureList) { _announced += enclosureList; }

private:
    bool writeBusConfig(bool refuseUpdates, bool refuseQueries = false);
    bool reloadBusConfig();
    FeedTrackerSparql* store() { return FeedTrackerSparql::instance(); }
    int enclosureCount() const;

    QTemporaryDir _dir;
    QProcess _bus;
    std::unique_ptr<StoreEndpoint> _endpoint;
    QList<FeedEnclosure> _announced;
    QString _channel;
    QString _iconPath;
};

bool tst_StoreFailures::writeBusConfig(bool refuseUpdates, bool refuseQueries)
{
    const QString refusal = QStringLiteral(
        "<deny send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\"/>"
        "<allow send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\" send_member=\"Query\"/>")
                                .arg(_endpoint->serviceName());
    const QString fullRefusal = QStringLiteral(
        "<deny send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\"/>")
                                    .arg(_endpoint->serviceName());
    QFile config(_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write(QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/>%1</policy></busconfig>\n")
                     .arg(refuseQueries ? fullRefusal : refuseUpdates ? refusal : QString())
                     .toUtf8());
    return true;
}

int tst_StoreFailures::enclosureCount() const
{
    QSparqlConnection connection(QStringLiteral("QTRACKER_DIRECT"));
    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }"))));
    return result && !result->hasError() ? result->size() : -1;
}

// A channel with an icon file, a message with an enclosure, and an orphan enclosure.
void tst_StoreFailures::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(writeBusConfig(false));
    QVERIFY2(StoreEndpoint::startBus(&_bus, _dir.filePath(QStringLiteral("bus.conf"))), "the private bus did not start");
    QVERIFY(_endpoint->start());

    connect(store(), SIGNAL(enclosuresToBeDeleted(QList<FeedEnclosure>&)), this,
            SLOT(handleEnclosureDeletion(QList<FeedEnclosure>&)));
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
    _iconPath = VirelonPaths::enclosureDir() + QStringLiteral("/icon.png");
    QFile icon(_iconPath);
    QVERIFY(icon.open(QIODevice::WriteOnly));
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/feed"));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/icon.png"));
    enclosure.setLocalUrl(_iconPath);
    channel.setIcon(enclosure);
    _channel = store()->addChannel(channel);
    QVERIFY(!_channel.isEmpty());
    FeedMessage message;
    message.setLink(QStringLiteral("http://example.com/m"));
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/m.mp3"));
    enclosure.setLocalUrl(QStringLiteral("/x/m.mp3"));
    message.setEnclosures({enclosure});
    QVERIFY(store()->addMessages({message}, _channel));
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/orphan.mp3"));
    QVERIFY(store()->addEnclosures({enclosure}, QStringLiteral("urn:uuid:gone")));
    QCOMPARE(enclosureCount(), 3);

    QVERIFY(writeBusConfig(true));
    QVERIFY(reloadBusConfig());
}

bool tst_StoreFailures::reloadBusConfig()
{
    QDBusInterface bus(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                       QStringLiteral("org.freedesktop.DBus"));
    const QDBusReply<void> reloaded = bus.call(QStringLiteral("ReloadConfig"));
    return reloaded.isValid();
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
    const QList<FeedEnclosure> stored = store()->enclosuresForMessage(_channel);
    QCOMPARE(stored.size(), 1);
    store()->deleteEnclosures(QList<QUrl>{QUrl(stored.at(0).uri())});
    store()->deleteOrphans();
    QVERIFY(!store()->deleteMessages(_channel));
    store()->deleteChannel(_channel);
    const QString message = store()->allMessageUrls(_channel).value(0);
    QVERIFY(!message.isEmpty());
    store()->deleteMessage(message, _channel);
    store()->deleteEnclosure(stored.at(0).uri());
    QVERIFY(_announced.isEmpty());
    QCOMPARE(enclosureCount(), 3);
    QCOMPARE(store()->allChannelUrls(), QStringList{_channel});
    QVERIFY(QFile::exists(_iconPath));
}

// A look-up that fails leaves nothing to write, and tells no message absent: the caller must not
// take either for an answer.
void tst_StoreFailures::refusedLookupFailsTheWrite()
{
    QVERIFY(writeBusConfig(true, true));
    QVERIFY(reloadBusConfig());
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/new.mp3"));
    enclosure.setLocalUrl(QStringLiteral("/x/new.mp3"));
    QVERIFY(!store()->addEnclosures({enclosure}, _channel));
    bool ok = true;
    QVERIFY(!store()->isMessageStored(_channel, &ok));
    QVERIFY(!ok);
    const QList<std::function<void(bool*)>> reads = {
        [this](bool* ok) { store()->messageLinksOfChannel(_channel, ok); },
        [this](bool* ok) { store()->messageTextsOfChannel(_channel, ok); },
        [this](bool* ok) { store()->latestPostPublishedTime(_channel, ok); },
        [this](bool* ok) { store()->deletableMessageCount(_channel, ok); },
        [this](bool* ok) { store()->deletableMessages(_channel, 5, ok); },
        [this](bool* ok) { store()->allChannelUrls(ok); },
        [this](bool* ok) { store()->allChannels(ok); },
    };
    for (const auto& read : reads) {
        ok = true;
        read(&ok);
        QVERIFY(!ok);
    }
}

VIRELON_TEST_MAIN(tst_StoreFailures)
#include "tst_storefailures.moc"
