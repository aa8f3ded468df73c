#include "feedfilenamegenerator.h"
#include "feedtrackersparql.h"
#include "benchdaemon.h"
#include "httpfixture.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>

// Enclosure downloads through the daemon and tamsil against curl fetching the same files from the
// same server of this process, in one run: a manual download of one large file (MB/s), and the
// refresh of a channel with many small images until refreshCompleted (files/s), against curl
// fetching the images in one call. The two alternate a few times and the best of each counts.
using namespace BenchDaemon;

namespace {

const int BigSize = 256 * 1024 * 1024;
const int Images = 300;
const int ImageSize = 8 * 1024;
const int ImagesPerItem = 5;
const int Rounds = 3;
const double BigTarget = 0.5;
const double ImagesTarget = 0.1;

QByteArray content(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7) % 251);
    return bytes;
}

// The daemon's signals this program waits for, counted by name.
class Signals : public QObject
{
    Q_OBJECT

public:
    Signals()
    {
        for (const char* name : {"refreshCompleted", "refreshError", "enclosureDownloadCompleted", "enclosureDownloadError"})
            listen(QLatin1String(name), this, SLOT(received(QDBusMessage)));
    }

    // Runs the event loop until the signal has come `count` times; false on an error signal or
    // after ten minutes.
    bool waitFor(const QString& name, int count)
    {
        QEventLoop loop;
        connect(this, &Signals::arrived, &loop, [&] {
            if (counts.value(name) >= count || errors())
                loop.quit();
        });
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        if (counts.value(name) < count && !errors())
            loop.exec();
        return counts.value(name) >= count && !errors();
    }

    int errors() const { return counts.value("refreshError") + counts.value("enclosureDownloadError"); }

    QHash<QString, int> counts;
    QString lastUri;

signals:
    void arrived();

private slots:
    void received(const QDBusMessage& message)
    {
        ++counts[message.member()];
        lastUri = message.arguments().value(0).toString();
        if (message.member().endsWith(QLatin1String("Error")))
            out() << message.member() << ' ' << message.arguments().value(0).toString() << Qt::endl;
        emit arrived();
    }
};

// Runs curl to its end while this process serves its requests; its time in ms, or -1.
double curl(const QStringList& arguments)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sf")} + arguments);
    loop.exec();
    const double elapsed = timer.nsecsElapsed() / 1e6;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? elapsed : -1;
}

bool allExist(const QStringList& files)
{
    return std::all_of(files.cbegin(), files.cend(), [](const QString& file) { return QFile::exists(file); });
}

double timed(const std::function<bool()>& run)
{
    QElapsedTimer timer;
    timer.start();
    return run() ? timer.nsecsElapsed() / 1e6 : -1;
}

void report(const QString& what, double daemonRate, double curlRate, const QString& unit, double target)
{
    const double ratio = daemonRate / curlRate;
    out() << what << ": through the daemon " << QString::number(daemonRate, 'f', 1) << ' ' << unit << ", curl "
          << QString::number(curlRate, 'f', 1) << ' ' << unit << ", ratio " << QString::number(ratio, 'f', 2)
          << " (target >= " << target << ") " << (ratio >= target ? "ok" : "UNDER") << Qt::endl;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    BenchDaemon::isolate(dir.path(), QStringLiteral(TAMSIL_DIR));
    QCoreApplication app(argc, argv);

    StoreEndpoint endpoint(dir.filePath(QStringLiteral("store")));
    if (!endpoint.start())
        return fail(QStringLiteral("no store endpoint (run under dbus-run-session)"));
    HttpFixture server;
    server.serve(QStringLiteral("/big.bin"), content(BigSize), "application/octet-stream");
    QString items = QStringLiteral("<item><title>Big</title><link>http://bench.example/big</link><description>Big"
                                   "</description><enclosure url=\"%1\" length=\"%2\" type=\"application/octet-stream\"/>"
                                   "</item>")
                        .arg(server.url(QStringLiteral("/big.bin")).toString())
                        .arg(BigSize);
    QStringList imageUrls;
    const QByteArray image = content(ImageSize);
    // A few images a message: a channel keeps 100 messages unless told otherwise.
    for (int i = 0; i < Images; ++i) {
        const QString path = QStringLiteral("/images/%1.png").arg(i);
        server.serve(path, image, "image/png");
        imageUrls << server.url(path).toString();
        if (i % ImagesPerItem == 0)
            items += QStringLiteral("<item><title>Images %1</title><link>http://bench.example/%1</link><description>")
                         .arg(i);
        items += QStringLiteral("&lt;img src=\"%1\"/&gt;").arg(imageUrls.last());
        if (i % ImagesPerItem == ImagesPerItem - 1 || i == Images - 1)
            items += QStringLiteral("</description></item>");
    }
    server.serve(QStringLiteral("/feed.xml"),
                 QStringLiteral("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Bench</title><link>"
                                "http://bench.example/</link><description>Bench</description>%1</channel></rss>")
                     .arg(items)
                     .toUtf8(),
                 "application/rss+xml");

    QProcess daemon;
    const QString daemonLog = dir.filePath(QStringLiteral("virelon.log"));
    daemon.setStandardErrorFile(daemonLog);
    daemon.start(QStringLiteral(VIRELON_BINARY), QStringList());
    if (!waitForService(daemon))
        return fail(QStringLiteral("the daemon did not come up"), daemonLog);
    Signals events;
    // The subscription fetches the images once: its time is the first refresh's.
    double imagesThroughDaemon = timed([&] {
        return callDaemon(QStringLiteral("subscribe"), {QStringList{server.url("/feed.xml").toString()}, "tamsil"})
               && events.waitFor(QStringLiteral("refreshCompleted"), 1);
    });
    if (imagesThroughDaemon < 0)
        return fail(QStringLiteral("subscription failed"), daemonLog);
    const QString channel = events.lastUri;
    QString bigUri;
    QString bigFile;
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    for (const QString& message : store->allMessageUrls(channel)) {
        for (const FeedEnclosure& enclosure : store->enclosuresForMessage(message)) {
            if (enclosure.remoteUrl().endsWith(QLatin1String("/big.bin"))) {
                bigUri = enclosure.uri();
                bigFile = enclosure.localUrl();
            }
        }
    }
    QStringList imageFiles;
    for (const QString& url : imageUrls)
        imageFiles << FeedFilenameGenerator().generateFileName(url);
    if (bigUri.isEmpty() || !allExist(imageFiles))
        return fail(QStringLiteral("the channel's files are missing"), daemonLog);

    const QString curlFolder = dir.filePath(QStringLiteral("curl"));
    QDir().mkpath(curlFolder);
    QStringList curlImages;
    for (int i = 0; i < Images; ++i)
        curlImages << QStringLiteral("-o") << QStringLiteral("%1/%2.png").arg(curlFolder).arg(i) << imageUrls.at(i);
    double bigThroughDaemon = 1e300;
    double bigByCurl = 1e300;
    double imagesByCurl = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        const int downloaded = events.counts.value("enclosureDownloadCompleted");
        QFile::remove(bigFile);
        const double big = timed([&] {
            return callDaemon(QStringLiteral("downloadEnclosure"), {channel, QStringList{bigUri}})
                   && events.waitFor(QStringLiteral("enclosureDownloadCompleted"), downloaded + 1);
        });
        if (big < 0 || QFileInfo(bigFile).size() != BigSize)
            return fail(QStringLiteral("the large download failed"), daemonLog);
        bigThroughDaemon = std::min(bigThroughDaemon, big);
        const double bigCurl = curl({QStringLiteral("-o"), curlFolder + "/big.bin", server.url("/big.bin").toString()});
        if (bigCurl < 0)
            return fail(QStringLiteral("curl failed on the large file"), daemonLog);
        bigByCurl = std::min(bigByCurl, bigCurl);

        for (const QString& file : imageFiles)
            QFile::remove(file);
        const int completed = events.counts.value("refreshCompleted");
        const double images = timed([&] {
            return callDaemon(QStringLiteral("refresh"), {QStringList{channel}})
                   && events.waitFor(QStringLiteral("refreshCompleted"), completed + 1);
        });
        if (images < 0 || !allExist(imageFiles))
            return fail(QStringLiteral("the images' refresh failed"), daemonLog);
        imagesThroughDaemon = std::min(imagesThroughDaemon, images);
        const double imagesCurl = curl(curlImages);
        if (imagesCurl < 0)
            return fail(QStringLiteral("curl failed on the images"), daemonLog);
        imagesByCurl = std::min(imagesByCurl, imagesCurl);
    }
    daemon.terminate();
    daemon.waitForFinished();

    const double megabytes = BigSize / 1048576.0;
    report(QStringLiteral("%1 MiB manual download").arg(megabytes), megabytes / bigThroughDaemon * 1000,
           megabytes / bigByCurl * 1000, QStringLiteral("MB/s"), BigTarget);
    report(QStringLiteral("refresh with %1 images of %2 KiB").arg(Images).arg(ImageSize / 1024),
           Images / imagesThroughDaemon * 1000, Images / imagesByCurl * 1000, QStringLiteral("files/s"), ImagesTarget);
    FeedTrackerSparql::releaseInstance();
    return 0;
}

#include "bench_enclosures.moc"
