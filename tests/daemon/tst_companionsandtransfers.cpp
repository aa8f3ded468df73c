#include "daemonfixture.h"
#include "daemonground.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <QDBusReply>

#include <memory>

namespace {

using namespace DaemonFixture;

const QStringList AllFields = {"4", "1", "2", "7", "8", "9", "10", "11"};

QByteArray rss(const QString& items)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                          "<title>Harbour Sounds</title><link>http://harbour.example/</link>"
                          "<description>Sounds</description>%1</channel></rss>\n")
        .arg(items)
        .toUtf8();
}

QString mediaItem(const QString& name, const QString& url)
{
    return QStringLiteral("<item><title>%1</title><link>http://harbour.example/%1</link><description>Sound</description>"
                          "<enclosure url=\"%2\" length=\"12345\" type=\"application/octet-stream\"/></item>")
        .arg(name, url.toHtmlEscaped());
}

QStringList fileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QVariantMap transferDetails(const QString& id, const QStringList& fields)
{
    return QDBusReply<QVariantMap>(call(QStringLiteral("transferDetails"), {id, fields})).value();
}

} // namespace

// Companion programs and the transfer list in the running daemon, with the real store and tamsil
// on a bus of the test's own, feeds and enclosures served on 127.0.0.1.
class tst_CompanionsAndTransfers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void companionsAtEachWakeUp();
    void downloadInTheTransferList();
    void missingTransferLibrary();

private:
    // A daemon with the configuration folder and the transfer library given.
    bool startDaemon(const QString& configDir, const QByteArray& library);
    // Serves the feed and subscribes it; the new channel's URI once its refresh has ended.
    QString subscribe(const QString& path, const QByteArray& feed);
    // Waits until the daemon has gone idle once more than the given number of times.
    bool waitForSleep(int before);
    int sleeps() { return messages(_daemon->log(), QLatin1Char('D')).count(QStringLiteral("feed transfer done")); }

    QTemporaryDir _dir;
    DaemonGround _ground;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
};

void tst_CompanionsAndTransfers::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path()));
}

void tst_CompanionsAndTransfers::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _ground.release();
}

void tst_CompanionsAndTransfers::cleanup()
{
    if (_daemon && (QTest::currentTestFailed() || qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG")))
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
}

bool tst_CompanionsAndTransfers::startDaemon(const QString& configDir, const QByteArray& library)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), configDir);
    environment.insert(QStringLiteral("VIRELON_SOLDRIN_LIBRARY"), QFile::decodeName(library));
    _daemon.reset();
    _daemon.reset(new Daemon(environment));
    _signals.reset(new SignalRecorder);
    return _daemon->waitForService();
}

QString tst_CompanionsAndTransfers::subscribe(const QString& path, const QByteArray& feed)
{
    _http.serve(path, feed, "application/rss+xml");
    return _signals->subscribe(_http.url(path).toString());
}

bool tst_CompanionsAndTransfers::waitForSleep(int before)
{
    return QTest::qWaitFor([&] { return sleeps() > before; }, timeout());
}

// The companion reads its input to the end and writes to the daemon's output; the program that
// is missing is tried at every wake-up; the empty line and the comment start nothing.
void tst_CompanionsAndTransfers::companionsAtEachWakeUp()
{
    const QString configDir = _dir.filePath(QStringLiteral("companions/virelon"));
    QVERIFY(QDir().mkpath(configDir));
    const QString marker = _dir.filePath(QStringLiteral("marker"));
    const QString companion = QStringLiteral("/bin/sh -c \"cat; echo ran >> %1; echo companion-line\"").arg(marker);
    const QString missing = _dir.filePath(QStringLiteral("no-such-companion"));
    QFile list(configDir + QStringLiteral("/launch.conf"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(QStringList({companion, missing, QString(), "#/bin/sh -c \"echo comment >> " + marker + "\""})
                   .join('\n')
                   .toUtf8()
               + '\n');
    list.close();
    QVERIFY(startDaemon(configDir, qgetenv("VIRELON_SOLDRIN_LIBRARY")));

    const QString channel = subscribe(QStringLiteral("/companions.xml"), rss(QString()));
    QVERIFY(!channel.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(fileLines(marker), QStringList{"ran"}, timeout());
    QTRY_VERIFY_WITH_TIMEOUT(messages(_daemon->log(), 'D', QStringLiteral("terminateProcess")).size() == 2, timeout());
    QVERIFY(waitForSleep(0));
    QVERIFY(_signals->refresh(channel));
    QTRY_COMPARE_WITH_TIMEOUT(fileLines(marker), QStringList({"ran", "ran"}), timeout());

    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += _daemon->process().readAllStandardOutput()).count("companion-line\n") == 2,
                             timeout());
    const QStringList started =
        messages(_daemon->log(), 'D', QStringLiteral("startProcess")).filter(QStringLiteral("Starting: "));
    QCOMPARE(started.filter(missing).size(), 2);
    QCOMPARE(started.filter(QStringLiteral("companion-line")).size(), 2);
    QCOMPARE(started.size(), 4);
    QCOMPARE(messages(_daemon->log(), 'C', QStringLiteral("processError")).filter(missing).size(), 2);
}

// A stalled download shows in the list as it runs, and is gone once the daemon is idle again.
void tst_CompanionsAndTransfers::downloadInTheTransferList()
{
    QVERIFY(startDaemon(_dir.filePath(QStringLiteral("etc/virelon")), qgetenv("VIRELON_SOLDRIN_LIBRARY")));
    HttpFixture::Reply stalled;
    stalled.body = QByteArray(256 * 1024, 'x');
    stalled.delivery = HttpFixture::Stall;
    stalled.chunkSize = 16 * 1024;
    _http.setReply(QStringLiteral("/stalled.bin"), stalled);
    const QString remote = _http.url(QStringLiteral("/stalled.bin")).toString();
    const QString channel = subscribe(QStringLiteral("/stalled.xml"), rss(mediaItem(QStringLiteral("Stalled"), remote)));
    QVERIFY(!channel.isEmpty());
    FeedEnclosure enclosure;
    for (const QString& message : FeedTrackerSparql::instance()->allMessageUrls(channel))
        enclosure = FeedTrackerSparql::instance()->enclosuresForMessage(message).value(0);
    QVERIFY(!enclosure.uri().isEmpty());

    const int idle = sleeps();
    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadProgress")));
    QTRY_COMPARE_WITH_TIMEOUT(transferDetails(enclosure.uri(), {"8"}).value("8").toLongLong(),
                              qlonglong(stalled.chunkSize), timeout());
    const QVariantMap details = transferDetails(enclosure.uri(), AllFields);
    QCOMPARE(details.keys(), QStringList({"1", "10", "11", "2", "4", "7", "8", "9"}));
    QCOMPARE(details.value("4").toString(), QStringLiteral("download"));
    QCOMPARE(details.value("1").toString(), remote);
    QCOMPARE(details.value("2").toString(), QStringLiteral("active"));
    QCOMPARE(details.value("7").toLongLong(), qlonglong(stalled.body.size()));
    QCOMPARE(details.value("10").toInt(), 0);
    QCOMPARE(details.value("11").toString(), enclosure.localUrl());
    QCOMPARE(transferDetails(enclosure.uri(), {"5", "x", "08"}), QVariantMap());

    call(QStringLiteral("cancelDownloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadError")));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")).last().value(1).toInt(), 201);
    QVERIFY(waitForSleep(idle));
    QCOMPARE(transferDetails(enclosure.uri(), AllFields), QVariantMap());
    QCOMPARE(transferDetails(channel, AllFields), QVariantMap());
}

// Without the library every queued work says so, and the work is done all the same.
void tst_CompanionsAndTransfers::missingTransferLibrary()
{
    QVERIFY(startDaemon(_dir.filePath(QStringLiteral("etc/virelon")),
                        QFile::encodeName(_dir.filePath(QStringLiteral("no-such/libSoldrin.so")))));
    const QString channel = subscribe(QStringLiteral("/unlisted.xml"), rss(QString()));
    QVERIFY(!channel.isEmpty());
    QVERIFY(_signals->refresh(channel));
    QCOMPARE(messages(_daemon->log(), 'C', QStringLiteral("handleAwake")),
             QStringList({"Failed to load the transfer library. Returning!!",
                          "Failed to load the transfer library. Returning!!"}));
    QCOMPARE(transferDetails(channel, AllFields), QVariantMap());
}

VIRELON_TEST_MAIN(tst_CompanionsAndTransfers)
#include "tst_companionsandtransfers.moc"
