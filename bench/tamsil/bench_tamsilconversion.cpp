#include "tamsil.h"
#include "tamsilconversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <functional>

// Conversion throughput of the plug-in on generated RSS and Atom feeds, next to two
// references measured in the same run: a bare QXmlStreamReader pass over the same bytes (the
// floor) and Debian's python3-feedparser. Target: at least 10 times feedparser's throughput.
namespace {

const char* const Paragraph =
    "&lt;p&gt;Lorem ipsum dolor sit amet, &lt;a href=\"http://bench.test/x\"&gt;consectetur&lt;/a&gt; "
    "adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.&lt;/p&gt;";

QByteArray rssFeed(int targetSize)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:media=\"http://search.yahoo.com/mrss/\"><channel><title>Bench</title>"
                      "<link>http://bench.test/</link><description>Generated</description>\n";
    for (int i = 0; feed.size() < targetSize; ++i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<item><title>Item " + n + "</title><link>http://bench.test/" + n + "</link>"
                "<guid>http://bench.test/g/" + n + "</guid><pubDate>Tue, 08 Dec 2026 21:40:37 EST</pubDate>"
                "<description>" + Paragraph + "</description>"
                "<enclosure url=\"http://bench.test/" + n + ".mp3\" length=\"1234\" type=\"audio/mpeg\"/>"
                "<media:content url=\"http://bench.test/" + n + ".mp4\" fileSize=\"99\" type=\"video/mp4\"/>"
                "</item>\n";
    }
    return feed + "</channel></rss>\n";
}

QByteArray atomFeed(int targetSize)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">"
                      "<title>Bench</title><link href=\"http://bench.test/\"/><id>urn:bench</id>"
                      "<updated>2026-12-08T00:00:00Z</updated>\n";
    for (int i = 0; feed.size() < targetSize; ++i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<entry><title>Entry " + n + "</title><link href=\"http://bench.test/" + n + "\"/>"
                "<link rel=\"enclosure\" type=\"audio/mpeg\" length=\"1234\" href=\"http://bench.test/" + n + ".mp3\"/>"
                "<id>urn:bench:" + n + "</id><published>2026-12-07T09:00:00-05:00</published>"
                "<updated>2026-12-08T09:00:00Z</updated><summary>Short</summary>"
                "<content type=\"html\">" + Paragraph + "</content></entry>\n";
    }
    return feed + "</feed>\n";
}

// Seconds per run of the work, repeated for about half a second.
double secondsPerRun(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    int runs = 0;
    while (timer.nsecsElapsed() < 500000000LL || runs < 3) {
        work();
        ++runs;
    }
    return timer.nsecsElapsed() / 1e9 / runs;
}

double megabytesPerSecond(int bytes, double seconds)
{
    return bytes / 1e6 / seconds;
}

QHash<QString, double> feedparserSeconds(const QStringList& files)
{
    QHash<QString, double> seconds;
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(FEEDPARSER_REFERENCE)} + files);
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        QTextStream(stderr) << "feedparser reference failed: " << python.readAllStandardError() << '\n';
        return seconds;
    }
    const QList<QByteArray> lines = python.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            seconds.insert(QString::fromUtf8(fields.at(0)), fields.at(1).toDouble());
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("VIRELON_TAMSIL_DATA_DIR"))
        qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    QTemporaryDir dir;
    struct Case { QString name; QByteArray body; QString contentType; QString file; };
    QList<Case> cases;
    for (int size : {10000, 200000, 2000000}) {
        const QString label = size >= 1000000 ? QStringLiteral("%1MB").arg(size / 1000000)
                                              : QStringLiteral("%1KB").arg(size / 1000);
        cases.append({QStringLiteral("rss ") + label, rssFeed(size), QStringLiteral("application/rss+xml"), {}});
        cases.append({QStringLiteral("atom ") + label, atomFeed(size), QStringLiteral("application/atom+xml"), {}});
    }
    QStringList files;
    for (Case& c : cases) {
        c.file = dir.filePath(QString(c.name).replace(QLatin1Char(' '), QLatin1Char('-')) + QStringLiteral(".xml"));
        QFile file(c.file);
        file.open(QIODevice::WriteOnly);
        file.write(c.body);
        files.append(c.file);
    }
    const QHash<QString, double> feedparser = feedparserSeconds(files);

    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg(QStringLiteral("feed"), -10).arg(QStringLiteral("bytes"), 9)
               .arg(QStringLiteral("tamsil MB/s"), 12).arg(QStringLiteral("reader MB/s"), 12)
               .arg(QStringLiteral("feedparser"), 11).arg(QStringLiteral("/reader"), 8)
               .arg(QStringLiteral("/feedparser"), 12);
    for (const Case& c : qAsConst(cases)) {
        Tamsil tamsil;
        FeedChannel request;
        request.setLink(QStringLiteral("http://bench.test/feed"));
        bool converted = true;
        const double tamsilSeconds = secondsPerRun([&] {
            converted = converted && TamsilConversion::convert(tamsil, c.body, c.contentType, request);
        });
        const double readerSeconds = secondsPerRun([&] {
            QXmlStreamReader reader(c.body);
            while (!reader.atEnd())
                reader.readNext();
        });
        const double tamsilRate = megabytesPerSecond(c.body.size(), tamsilSeconds);
        const double readerRate = megabytesPerSecond(c.body.size(), readerSeconds);
        const double parserRate = feedparser.contains(c.file)
                                      ? megabytesPerSecond(c.body.size(), feedparser.value(c.file)) : 0;
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7%8\n")
                   .arg(c.name, -10).arg(c.body.size(), 9)
                   .arg(tamsilRate, 12, 'f', 2).arg(readerRate, 12, 'f', 2).arg(parserRate, 11, 'f', 2)
                   .arg(tamsilRate / readerRate, 8, 'f', 3)
                   .arg(parserRate > 0 ? tamsilRate / parserRate : 0.0, 12, 'f', 1)
                   .arg(converted ? QString() : QStringLiteral("  CONVERSION FAILED"));
        out.flush();
    }
    return 0;
}
