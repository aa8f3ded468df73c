#include "contentinfo.h"
#include "daemonfixture.h"
#include "daemonground.h"
#include "feedfilenamegenerator.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testenvironment.h"
#include "virelonpaths.h"

#include <QDBusReply>
#include <QDirIterator>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>

#include <memory>
#include <signal.h>

namespace {

using namespace DaemonFixture;

QByteArray content(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) % 251);
    return bytes;
}

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// An RSS feed whose items are given as XML; its image is the channel's icon.
QByteArray rss(const QString& items, const QString& icon = QString())
{
    const QString image = icon.isEmpty() ? QString() : QStringLiteral("<image><url>%1</url></image>").arg(icon);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                          "<title>Harbour Pictures</title><link>http://harbour.example/</link>"
                          "<description>Pictures</description>%1%2</channel></rss>\n")
        .arg(image, items)
        .toUtf8();
}

QString imageItem(int number, const QString& source)
{
    return QStringLiteral("<item><title>Picture %1</title><link>http://harbour.example/%1</link>"
                          "<description>&lt;p&gt;&lt;img src=\"%2\"/&gt;&lt;/p&gt;</description></item>")
        .arg(number)
        .arg(source.toHtmlEscaped());
}

QString mediaItem(const QString& name, const QString& url)
{
    return QStringLiteral("<item><title>%1</title><link>http://harbour.example/%1</link><description>Sound</description>"
                          "<enclosure url=\"%2\" length=\"12345\" type=\"application/octet-stream\"/></item>")
        .arg(name, url.toHtmlEscaped());
}

HttpFixture::Reply trickled(const QByteArray& body, int chunkSize, int interval)
{
    HttpFixture::Reply reply;
    reply.body = body;
    reply.delivery = HttpFixture::Trickle;
    reply.chunkSize = chunkSize;
    reply.chunkInterval = interval;
    return reply;
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size();
}

// The process ids of a process's children.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QByteArray& child : fileContent(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).split(' ')) {
        bool ok = false;
        const qint64 id = child.trimmed().toLongLong(&ok);
        if (ok)
            children << id;
    }
    return children;
}

bool hasEnded(qint64 pid)
{
    const QByteArray stat = fileContent(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat == "(missing)" || stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
}

// Every entry below a folder, by path relative to it: kind, size, time of change, link target.
QMap<QString, QString> snapshot(const QString& folder, const QStringList& skipped)
{
    QMap<QString, QString> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        if (std::any_of(skipped.cbegin(), skipped.cend(), [&](const QString& skip) { return relative.startsWith(skip); }))
            continue;
        const QFileInfo info = it.fileInfo();
        entries.insert(relative, QStringLiteral("%1 %2 %3 %4")
                                     .arg(info.isSymLink() ? "link" : info.isDir() ? "dir" : "file")
                                     .arg(info.isDir() ? 0 : info.size())
                                     .arg(info.lastModified().toMSecsSinceEpoch())
                                     .arg(info.symLinkTarget()));
    }
    return entries;
}

} // namespace

// Enclosure downloads as clients meet them: the daemon with the real store and tamsil on a bus
// of the test's own, the files served on 127.0.0.1.
class tst_EnclosureRequests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void refreshFetchesImages_data();
    void refreshFetchesImages();
    void manualDownload_data();
    void manualDownload();
    void pauseResumeCancel();
    void resumeAfterTheDaemonDied();
    void brokenTransfers();
    void endlessImageHoldsUpNothing();
    void nothingOutsideTheEnclosureFolder();

private:
    // Serves the feed and subscribes it; the new channel's URI once its refresh has ended.
    QString subscribe(const QString& path, const QByteArray& feed);
    // The channel's stored enclosures by the path of their remote URL.
    QHash<QString, FeedEnclosure> enclosuresOf(const QString& channelUri) const;
    bool waitForSignal(const QString& name, int count);
    qint64 tamsilProcess() const;
    bool restartDaemon(const QProcessEnvironment& environment);

    QTemporaryDir _dir;
    DaemonGround _ground;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
};

void tst_EnclosureRequests::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path(), {{QStringLiteral("good"), QStringLiteral(FAKE_PLUGIN)}}));
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
    // What the fake plug-in "good" answers for its channel's enclosures.
    QStringList named;
    const QStringList locals = {QDir::homePath() + "/outside1.bin", VirelonPaths::enclosureDir() + "/../outside2.bin",
                                QDir::homePath() + "/outside3.bin"};
    for (int i = 0; i < locals.size(); ++i) {
        const QString path = QStringLiteral("/outside%1.bin").arg(i + 1);
        _http.serve(path, content(1024, i), "application/octet-stream");
        named << _http.url(path).toString() + ' ' + locals.at(i);
    }
    qputenv("FAKE_PLUGIN_ENCLOSURES", named.join(';').toUtf8());
}

void tst_EnclosureRequests::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _ground.release();
}

void tst_EnclosureRequests::init()
{
    _daemon.reset(new Daemon);
    QVERIFY(_daemon->waitForService());
    _signals.reset(new SignalRecorder);
}

void tst_EnclosureRequests::cleanup()
{
    if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG"))
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
}

QString tst_EnclosureRequests::subscribe(const QString& path, const QByteArray& feed)
{
    _http.serve(path, feed, "application/rss+xml");
    return _signals->subscribe(_http.url(path).toString());
}

QHash<QString, FeedEnclosure> tst_EnclosureRequests::enclosuresOf(const QString& channelUri) const
{
    QHash<QString, FeedEnclosure> found;
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    for (const QString& message : store->allMessageUrls(channelUri)) {
        for (const FeedEnclosure& enclosure : store->enclosuresForMessage(message))
            found.insert(QUrl(enclosure.remoteUrl()).path(), enclosure);
    }
    return found;
}

bool tst_EnclosureRequests::waitForSignal(const QString& name, int count)
{
    return _signals->waitFor(name, count);
}

qint64 tst_EnclosureRequests::tamsilProcess() const
{
    return childrenOf(_daemon->process().processId()).value(0, -1);
}

bool tst_EnclosureRequests::restartDaemon(const QProcessEnvironment& environment)
{
    _signals.reset();
    // The old daemon must have left the name before the new one asks for it.
    _daemon.reset();
    _daemon.reset(new Daemon(environment));
    _signals.reset(new SignalRecorder);
    return _daemon->waitForService();
}

void tst_EnclosureRequests::refreshFetchesImages_data()
{
    QTest::addColumn<QString>("missing"); // an image the server does not have, or none
    QTest::newRow("all there") << QString();
    QTest::newRow("one image missing") << QStringLiteral("/2.png");
}

// The icon and the description images of a refreshed channel end up at their generated names,
// and the refresh completes once, after the last byte of the last of them.
void tst_EnclosureRequests::refreshFetchesImages()
{
    QFETCH(QString, missing);
    const QString row = QString::number(QTest::currentDataTag() == QLatin1String("all there"));
    QHash<QString, QByteArray> bodies;
    for (const char* name : {"/icon.png", "/1.png", "/2.png", "/3.png"}) {
        const QString path = "/images" + row + name;
        bodies.insert(path, content(8192, bodies.size()));
        if (QLatin1String(name) == QLatin1String("/3.png"))
            _http.setReply(path, trickled(bodies.value(path), 512, 10));
        else if (path.endsWith(missing) && !missing.isEmpty())
            bodies.remove(path);
        else
            _http.serve(path, bodies.value(path), "image/png");
    }
    QString items;
    for (int i = 1; i <= 3; ++i)
        items += imageItem(i, _http.url(QStringLiteral("/images%1/%2.png").arg(row).arg(i)).toString());
    const QString uri = subscribe("/images" + row + ".xml", rss(items, _http.url("/images" + row + "/icon.png").toString()));
    QVERIFY(!uri.isEmpty());
    for (const char* name : {"/icon.png", "/1.png", "/2.png", "/3.png"}) {
        const QString path = "/images" + row + name;
        const QString local = FeedFilenameGenerator().generateFileName(_http.url(path).toString());
        QCOMPARE(fileContent(local), bodies.value(path, "(missing)"));
    }
    const QStringList parts = QDir(VirelonPaths::enclosureDir()).entryList({QStringLiteral("*.part")}, QDir::Files);
    QVERIFY2(parts.isEmpty(), qPrintable(parts.join(' ')));
    // The missing image of a message already stored comes at the next refresh, where nothing is new.
    if (!missing.isEmpty()) {
        const QString path = "/images" + row + missing;
        bodies.insert(path, content(8192, 9));
        _http.serve(path, bodies.value(path), "image/png");
    }
    QCOMPARE(call(QStringLiteral("refresh"), {QStringList{uri}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(waitForSignal(QStringLiteral("refreshCompleted"), 2));
    for (const char* name : {"/icon.png", "/1.png", "/2.png", "/3.png"}) {
        const QString path = "/images" + row + name;
        QCOMPARE(fileContent(FeedFilenameGenerator().generateFileName(_http.url(path).toString())), bodies.value(path));
    }
    QCOMPARE(_signals->arguments(QStringLiteral("refreshCompleted")), QList<QVariantList>({{uri}, {uri}}));
    QCOMPARE(_signals->count(QStringLiteral("enclosureDownloadStarted")), 0);
    QCOMPARE(_signals->count(QStringLiteral("enclosureDownloadError")), 0);
}

void tst_EnclosureRequests::manualDownload_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::newRow("size announced") << true;
    QTest::newRow("no Content-Length") << false;
}

void tst_EnclosureRequests::manualDownload()
{
    QFETCH(bool, contentLength);
    const QString path = QStringLiteral("/big%1.mp3").arg(contentLength);
    const QByteArray body = content(2 * 1024 * 1024, 3);
    HttpFixture::Reply reply = trickled(body, 128 * 1024, 10);
    reply.contentLength = contentLength;
    reply.addHeader("Content-Type", "audio/mpeg");
    _http.setReply(path, reply);
    const QString channel = subscribe(QStringLiteral("/big%1.xml").arg(contentLength),
                                      rss(mediaItem(QStringLiteral("Tide"), _http.url(path).toString())));
    QVERIFY(!channel.isEmpty());
    const FeedEnclosure enclosure = enclosuresOf(channel).value(path);
    QVERIFY(!enclosure.uri().isEmpty());

    QCOMPARE(call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosure.uri()}}).type(),
             QDBusMessage::ReplyMessage);
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadCompleted"), 1));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadStarted")), QList<QVariantList>{{enclosure.uri()}});
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadCompleted")),
             QList<QVariantList>({{enclosure.uri(), 0LL}}));
    // The last manual download is told ended after its completion.
    QVERIFY(waitForSignal(QStringLiteral("refreshState"), 1));
    QCOMPARE(_signals->arguments(QStringLiteral("refreshState")), QList<QVariantList>{{2}});
    const QList<QVariantList> progress = _signals->arguments(QStringLiteral("enclosureDownloadProgress"));
    QVERIFY(progress.size() >= 2);
    qlonglong received = 0;
    for (const QVariantList& report : progress) {
        QCOMPARE(report.value(0).toString(), enclosure.uri());
        QCOMPARE(report.value(1).toLongLong(), contentLength ? qlonglong(body.size()) : -1LL);
        QVERIFY(report.value(2).toLongLong() >= received);
        received = report.value(2).toLongLong();
        QVERIFY(contentLength ? report.value(3).toLongLong() >= 0 : report.value(3).toLongLong() == 0);
    }
    QCOMPARE(received, qlonglong(body.size()));
    QCOMPARE(fileContent(enclosure.localUrl()), body);
    QVERIFY(!QFile::exists(enclosure.localUrl() + ".part"));
    const FeedEnclosure stored = FeedTrackerSparql::instance()->enclosureForUri(enclosure.uri());
    QCOMPARE(stored.length(), contentLength ? uint(body.size()) : 12345u);
    QCOMPARE(stored.mimeType(), contentLength ? ContentInfo::forMime("audio/mpeg").mimeType() : enclosure.mimeType());
    QVERIFY(stored.mimeType() != (contentLength ? enclosure.mimeType() : QString()));
}

// A paused download keeps its ".part", and continues from it; a cancelled one leaves nothing.
void tst_EnclosureRequests::pauseResumeCancel()
{
    const QByteArray body = content(1024 * 1024, 5);
    const int first = 64 * 1024;
    for (const char* name : {"/pausable.bin", "/cancelled.bin"})
        _http.setReply(QLatin1String(name), HttpFixture::held(body, first));
    const QString channel = subscribe(QStringLiteral("/pausable.xml"),
                                      rss(mediaItem("Paused", _http.url("/pausable.bin").toString())
                                          + mediaItem("Cancelled", _http.url("/cancelled.bin").toString())));
    QVERIFY(!channel.isEmpty());
    const FeedEnclosure paused = enclosuresOf(channel).value("/pausable.bin");
    const FeedEnclosure cancelled = enclosuresOf(channel).value("/cancelled.bin");

    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{paused.uri()}});
    QTRY_COMPARE_WITH_TIMEOUT(sizeOf(paused.localUrl() + ".part"), qint64(first), timeout());
    call(QStringLiteral("pauseDownloadEnclosure"), {channel, QStringList{paused.uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadError"), 1));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")),
             QList<QVariantList>({{QStringList{paused.uri()}, 203, 0LL}}));
    QCOMPARE(sizeOf(paused.localUrl() + ".part"), qint64(first));
    QVERIFY(!QFile::exists(paused.localUrl()));

    _http.release(QStringLiteral("/pausable.bin"));
    call(QStringLiteral("resumeDownloadEnclosure"), {channel, QStringList{paused.uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadCompleted"), 1));
    QCOMPARE(_http.requests("/pausable.bin").last().header("Range"), "bytes=" + QByteArray::number(first) + '-');
    QCOMPARE(fileContent(paused.localUrl()), body);
    QVERIFY(!QFile::exists(paused.localUrl() + ".part"));

    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{cancelled.uri()}});
    QTRY_COMPARE_WITH_TIMEOUT(sizeOf(cancelled.localUrl() + ".part"), qint64(first), timeout());
    call(QStringLiteral("cancelDownloadEnclosure"), {channel, QStringList{cancelled.uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadError"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")).last(),
             QVariantList({QStringList{cancelled.uri()}, 201, 0LL}));
    QVERIFY(!QFile::exists(cancelled.localUrl() + ".part"));
    QVERIFY(!QFile::exists(cancelled.localUrl()));
}

// A daemon killed mid-download leaves its ".part"; the next daemon continues it on request.
void tst_EnclosureRequests::resumeAfterTheDaemonDied()
{
    const QByteArray body = content(1024 * 1024, 9);
    const int first = 64 * 1024;
    _http.setReply(QStringLiteral("/survivor.bin"), HttpFixture::held(body, first));
    const QString channel =
        subscribe(QStringLiteral("/survivor.xml"), rss(mediaItem("Survivor", _http.url("/survivor.bin").toString())));
    QVERIFY(!channel.isEmpty());
    const FeedEnclosure enclosure = enclosuresOf(channel).value("/survivor.bin");
    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QTRY_COMPARE_WITH_TIMEOUT(sizeOf(enclosure.localUrl() + ".part"), qint64(first), timeout());
    const qint64 plugin = tamsilProcess();
    QVERIFY(plugin > 0);
    ::kill(pid_t(_daemon->process().processId()), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(plugin), timeout());
    QTRY_COMPARE_WITH_TIMEOUT(_daemon->process().state(), QProcess::NotRunning, timeout());
    QCOMPARE(sizeOf(enclosure.localUrl() + ".part"), qint64(first));

    _http.release(QStringLiteral("/survivor.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
    _daemon.reset(new Daemon);
    QVERIFY(_daemon->waitForService());
    _signals->clear();
    call(QStringLiteral("resumeDownloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadCompleted"), 1));
    const QByteArray range = _http.requests("/survivor.bin").last().header("Range");
    QVERIFY2(range.isEmpty() || range == "bytes=" + QByteArray::number(first) + '-', range);
    QCOMPARE(fileContent(enclosure.localUrl()), body);
    QVERIFY(!QFile::exists(enclosure.localUrl() + ".part"));
}

// A cut connection and a stalled one end with tamsil's codes; the plug-in goes on serving.
void tst_EnclosureRequests::brokenTransfers()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_TAMSIL_STALL_TIMEOUT_MS"), QStringLiteral("1000"));
    QVERIFY(restartDaemon(environment));
    HttpFixture::Reply cut;
    cut.body = content(64 * 1024, 1);
    cut.delivery = HttpFixture::Drop;
    cut.chunkSize = 16 * 1024;
    _http.setReply(QStringLiteral("/cut.bin"), cut);
    HttpFixture::Reply stalled = cut;
    stalled.delivery = HttpFixture::Stall;
    _http.setReply(QStringLiteral("/stalled.bin"), stalled);
    _http.serve(QStringLiteral("/after.bin"), content(4096, 2), "application/octet-stream");
    const QString channel = subscribe(QStringLiteral("/broken.xml"),
                                      rss(mediaItem("Cut", _http.url("/cut.bin").toString())
                                          + mediaItem("Stalled", _http.url("/stalled.bin").toString())
                                          + mediaItem("After", _http.url("/after.bin").toString())));
    QVERIFY(!channel.isEmpty());
    const QHash<QString, FeedEnclosure> enclosures = enclosuresOf(channel);

    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosures.value("/cut.bin").uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadError"), 1));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")).last(),
             QVariantList({QStringList{enclosures.value("/cut.bin").uri()}, 402, 0LL}));

    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosures.value("/stalled.bin").uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadError"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")).last(),
             QVariantList({QStringList{enclosures.value("/stalled.bin").uri()}, 401, 0LL}));

    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosures.value("/after.bin").uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadCompleted"), 1));
    QVERIFY(!_daemon->log().contains("Plugin hung"));
    QVERIFY(!_daemon->log().contains("Plugin exited"));
    QCOMPARE(fileContent(enclosures.value("/after.bin").localUrl()), content(4096, 2));
    const QVariantMap status = QDBusReply<QVariantMap>(call(QStringLiteral("enclosureStatus"),
                                                            {QStringList{enclosures.value("/cut.bin").uri()}}))
                                   .value();
    QCOMPARE(status.value(enclosures.value("/cut.bin").uri()).toInt(), 402);
}

// Fault guarded: a refresh's image that never ended held up every later refresh for good, and its
// ".part" grew until the disk was full. A user's own download of such an image has no cap.
void tst_EnclosureRequests::endlessImageHoldsUpNothing()
{
    const qint64 cap = 2 * 1024 * 1024;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_TAMSIL_FEED_TIMEOUT_MS"), QStringLiteral("3000"));
    environment.insert(QStringLiteral("VIRELON_TAMSIL_MAX_IMAGE_SIZE"), QString::number(cap));
    QVERIFY(restartDaemon(environment));
    HttpFixture::Reply endless;
    endless.body = content(64 * 1024, 4);
    endless.delivery = HttpFixture::Endless;
    _http.setReply(QStringLiteral("/endless/icon.png"), endless);
    const QByteArray big = content(int(cap) + 1024 * 1024, 6);
    _http.serve(QStringLiteral("/endless/big.png"), big, "image/png");
    _http.serve(QStringLiteral("/endless.xml"),
                rss(imageItem(1, _http.url("/endless/big.png").toString()), _http.url("/endless/icon.png").toString()),
                "application/rss+xml");
    _http.serve(QStringLiteral("/plain.xml"), rss(QString()), "application/rss+xml");

    call(QStringLiteral("subscribe"), {QStringList{_http.url("/endless.xml").toString()}, QStringLiteral("tamsil")});
    QTRY_VERIFY_WITH_TIMEOUT(!_http.requests(QStringLiteral("/endless/icon.png")).isEmpty(), timeout());
    call(QStringLiteral("subscribe"), {QStringList{_http.url("/plain.xml").toString()}, QStringLiteral("tamsil")});
    qint64 largest = 0;
    const auto bothCompleted = [&] {
        for (QDirIterator it(VirelonPaths::enclosureDir(), QDir::Files | QDir::Hidden); it.hasNext();)
            largest = qMax(largest, QFileInfo(it.next()).size());
        return _signals->count(QStringLiteral("refreshCompleted")) >= 2;
    };
    QVERIFY(QTest::qWaitFor(bothCompleted, 60000));
    QVERIFY2(largest <= cap, qPrintable(QString::number(largest)));
    const QList<QVariantList> started = _signals->arguments(QStringLiteral("refreshStarted"));
    QCOMPARE(started.size(), 2);
    const QList<QVariantList> completed = _signals->arguments(QStringLiteral("refreshCompleted"));
    QVERIFY(completed.contains(started.first()) && completed.contains(started.last()));
    for (const char* path : {"/endless/icon.png", "/endless/big.png"}) {
        const QString local = FeedFilenameGenerator().generateFileName(_http.url(path).toString());
        QVERIFY(!QFile::exists(local));
        QVERIFY(!QFile::exists(local + ".part"));
    }

    const QString channel = started.first().value(0).toString();
    const FeedEnclosure image = enclosuresOf(channel).value(QStringLiteral("/endless/big.png"));
    QVERIFY(!image.uri().isEmpty());
    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{image.uri()}});
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadCompleted"), 1));
    QCOMPARE(fileContent(image.localUrl()), big);
}

// Local paths from the store, from feeds and from a plug-in never lead to a file written,
// renamed or deleted outside the enclosure folder.
void tst_EnclosureRequests::nothingOutsideTheEnclosureFolder()
{
    const QString home = QDir::homePath();
    const QString folder = VirelonPaths::enclosureDir();
    QVERIFY(QFile(home + "/victim.txt").open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(home + "/victim.txt", folder + "/linked.bin"));
    const QStringList skipped = {QDir(home).relativeFilePath(folder), QStringLiteral(".config/virelon")};
    const QMap<QString, QString> before = snapshot(home, skipped);
    const auto partsIn = [&folder] {
        QStringList parts;
        for (QDirIterator it(folder, {QStringLiteral("*.part")}, QDir::Files | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            parts << it.next();
        return parts;
    };
    const QStringList partsBefore = partsIn();

    // Records whose local paths someone else wrote.
    QString items;
    for (int i = 1; i <= 5; ++i) {
        _http.serve(QStringLiteral("/victim%1.bin").arg(i), content(1024, i), "application/octet-stream");
        items += mediaItem(QStringLiteral("Victim%1").arg(i), _http.url(QStringLiteral("/victim%1.bin").arg(i)).toString());
    }
    const QString channel = subscribe(QStringLiteral("/victims.xml"), rss(items));
    QVERIFY(!channel.isEmpty());
    const QStringList paths = {QString(), QStringLiteral("relative.bin"), folder + "/../../escaped.bin",
                               home + "/outside.bin", folder + "/linked.bin"};
    QStringList uris;
    QSparqlConnection store(QStringLiteral("QTRACKER_DIRECT"));
    for (int i = 1; i <= 5; ++i) {
        const QString uri = enclosuresOf(channel).value(QStringLiteral("/victim%1.bin").arg(i)).uri();
        QVERIFY(!uri.isEmpty());
        uris << uri;
        QSparqlQuery rewrite(paths.at(i - 1).isEmpty()
                                 ? QStringLiteral("DELETE { ?:uri mfo:localLink ?l } WHERE { ?:uri mfo:localLink ?l }")
                                 : QStringLiteral("DELETE { ?:uri mfo:localLink ?l } WHERE { ?:uri mfo:localLink ?l } "
                                                  "INSERT { ?:uri mfo:localLink ?:path }"),
                             QSparqlQuery::InsertStatement);
        rewrite.bindValue(QStringLiteral("uri"), QUrl(uri));
        rewrite.bindValue(QStringLiteral("path"), QUrl(paths.at(i - 1)));
        std::unique_ptr<QSparqlResult> written(store.exec(rewrite));
        QVERIFY2(written && !written->hasError(), qPrintable(paths.at(i - 1)));
    }
    QCOMPARE(call(QStringLiteral("downloadEnclosure"), {channel, uris}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(waitForSignal(QStringLiteral("enclosureDownloadError"), 5));
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")).at(i),
                 QVariantList({QStringList{uris.at(i)}, 202, 0LL}));
        QVERIFY(_http.requests(QStringLiteral("/victim%1.bin").arg(i + 1)).isEmpty());
    }

    // Feeds whose links would name files elsewhere.
    const QString up = QStringLiteral("/a%2F..%2F..%2F..%2Fup.png");
    _http.serve(up, content(512, 1), "image/png");
    _http.serve(QStringLiteral("/..png"), content(512, 2), "image/png");
    const QString longName = "/" + QString(300, QLatin1Char('x')) + ".png";
    _http.serve(longName, content(512, 3), "image/png");
    const QString hostile = imageItem(1, _http.url(up).toString()) + imageItem(2, _http.url("/..png").toString())
                            + imageItem(3, _http.url(longName).toString())
                            + imageItem(4, QUrl::fromLocalFile(home + "/victim.txt").toString())
                            + imageItem(5, _http.url("/../../../dots.png").toString());
    QVERIFY(!subscribe(QStringLiteral("/hostile.xml"), rss(hostile, QStringLiteral("file:///etc/hostname"))).isEmpty());
    QCOMPARE(fileContent(FeedFilenameGenerator().generateFileName(_http.url(longName).toString())), content(512, 3));

    // A plug-in that names files outside for its channel's enclosures. Its link is no web link,
    // which a subscription refuses: the channel goes into the store directly.
    FeedChannel outside;
    outside.setLink(QStringLiteral("with-enclosures:outside"));
    outside.setType(QStringLiteral("good"));
    QVERIFY(_signals->refresh(FeedTrackerSparql::instance()->addChannel(outside)));

    const QMap<QString, QString> after = snapshot(home, skipped);
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QVERIFY2(before.value(it.key()) == it.value(), qPrintable(it.key() + ": " + it.value()));
    QCOMPARE(after.keys(), before.keys());
    QVERIFY(fileContent(home + "/victim.txt").isEmpty());
    QVERIFY(QFileInfo(folder + "/linked.bin").isSymLink());
    QCOMPARE(partsIn(), partsBefore);
}

VIRELON_TEST_MAIN(tst_EnclosureRequests)
#include "tst_enclosurerequests.moc"
