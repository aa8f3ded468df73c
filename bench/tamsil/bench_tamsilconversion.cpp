#include "tamsil.h"
#include "tamsilconversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <ctime>
#include <functional>

// Conversion speed of the plug-in on four feeds shaped like real ones, next to two references
// measured in the same run: Debian's python3-feedparser, and one bare QXmlStreamReader pass over
// the same bytes (the floor). Times are processor time of the best of several runs, so other
// work on the machine disturbs them little. Targets: at least 15 times feedparser on the large
// feed and 10 times on the small one, and within 5 times of the reader on the large feed.
namespace {

const char* const Html =
    "<p>The council met on <b>Tuesday</b> &amp; agreed the plan&#8217;s budget for %1. "
    "<a href=\"https://news.bench.test/2026/12/council-%1/\" rel=\"bookmark\">Read the minutes</a>.</p>"
    "<p><img src=\"https://cdn.bench.test/photos/%1-1024x768.jpg\" alt=\"Photo %1\" width=\"1024\" "
    "height=\"768\" /></p><p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
    "tempor incididunt ut labore et dolore magna aliqua. <em>Duis aute irure</em> dolor in reprehenderit "
    "in voluptate velit esse.</p>";

QByteArray html(int n)
{
    return QString::fromLatin1(Html).arg(n).toUtf8();
}

QByteArray escaped(const QByteArray& text)
{
    return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
}

QByteArray rfc822(int n)
{
    return QDateTime(QDate(2026, 12, 8), QTime(21, 40), Qt::UTC).addSecs(-n * 1800)
        .toString(QStringLiteral("ddd, dd MMM yyyy hh:mm:ss +0000")).toLatin1();
}

QByteArray iso8601(int n)
{
    return QDateTime(QDate(2026, 12, 8), QTime(21, 40), Qt::UTC).addSecs(-n * 1800).toString(Qt::ISODate).toLatin1();
}

// A news site's RSS 2.0: HTML descriptions, authors and categories from its modules.
QByteArray newsFeed(int items)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                      "xmlns:atom=\"http://www.w3.org/2005/Atom\">\n<channel>\n<title>Bench News</title>\n"
                      "<link>https://news.bench.test/</link>\n<description>Generated news</description>\n"
                      "<atom:link href=\"https://news.bench.test/feed/\" rel=\"self\" type=\"application/rss+xml\"/>\n"
                      "<language>en-GB</language>\n";
    for (int i = 0; i < items; ++i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<item>\n<title>Council agrees budget, part " + n + "</title>\n"
                "<link>https://news.bench.test/2026/12/council-" + n + "/</link>\n"
                "<dc:creator><![CDATA[Reporter " + n + "]]></dc:creator>\n<pubDate>" + rfc822(i) + "</pubDate>\n"
                "<category><![CDATA[Politics]]></category>\n<category><![CDATA[Local]]></category>\n"
                "<guid isPermaLink=\"false\">https://news.bench.test/?p=" + n + "</guid>\n"
                "<description><![CDATA[" + html(i) + "]]></description>\n</item>\n";
    }
    return feed + "</channel>\n</rss>\n";
}

QByteArray atomFeed(int entries)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
                      "<title>Bench Log</title>\n<link href=\"https://log.bench.test/\"/>\n"
                      "<link rel=\"self\" href=\"https://log.bench.test/atom.xml\"/>\n"
                      "<id>tag:log.bench.test,2026:feed</id>\n<updated>2026-12-08T21:40:00Z</updated>\n";
    for (int i = 0; i < entries; ++i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<entry>\n<title type=\"html\">Notes &amp;amp; thoughts " + n + "</title>\n"
                "<link rel=\"alternate\" type=\"text/html\" href=\"https://log.bench.test/notes/" + n + "\"/>\n"
                "<id>tag:log.bench.test,2026:" + n + "</id>\n<published>" + iso8601(i) + "</published>\n"
                "<updated>" + iso8601(i) + "</updated>\n<author><name>Writer</name></author>\n"
                "<summary>Short notes, number " + n + ".</summary>\n"
                "<content type=\"html\">" + escaped(html(i)) + "</content>\n</entry>\n";
    }
    return feed + "</feed>\n";
}

QByteArray podcastFeed(int episodes)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\" "
                      "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\n<channel>\n"
                      "<title>Bench Cast</title>\n<link>https://cast.bench.test/</link>\n"
                      "<description>Talk</description>\n<itunes:author>Hosts</itunes:author>\n"
                      "<image><url>https://cast.bench.test/cover.jpg</url><title>Bench Cast</title>"
                      "<link>https://cast.bench.test/</link></image>\n";
    for (int i = 0; i < episodes; ++i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<item>\n<title>Episode " + n + "</title>\n<link>https://cast.bench.test/" + n + "</link>\n"
                "<guid>https://cast.bench.test/" + n + "</guid>\n<pubDate>" + rfc822(i) + "</pubDate>\n"
                "<enclosure url=\"https://cdn.bench.test/cast/" + n + ".mp3\" length=\"48213544\" type=\"audio/mpeg\"/>\n"
                "<itunes:duration>00:58:12</itunes:duration>\n<itunes:explicit>no</itunes:explicit>\n"
                "<description>Hosts talk about part " + n + " of the series.</description>\n"
                "<content:encoded><![CDATA[<p>Hosts talk about part " + n + ".</p><ul><li>News</li>"
                "<li>Letters</li></ul>]]></content:encoded>\n</item>\n";
    }
    return feed + "</channel>\n</rss>\n";
}

double processorSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double secondsOf(const std::function<void()>& work)
{
    const double start = processorSeconds();
    work();
    return processorSeconds() - start;
}

// The best of at least five runs of each, taken in turns for about two seconds, so that both
// meet the same conditions of the machine.
QPair<double, double> bestSeconds(const std::function<void()>& first, const std::function<void()>& second)
{
    QElapsedTimer total;
    total.start();
    QPair<double, double> best(1e9, 1e9);
    for (int runs = 0; runs < 5 || total.elapsed() < 2000; ++runs) {
        best.first = qMin(best.first, secondsOf(first));
        best.second = qMin(best.second, secondsOf(second));
    }
    return best;
}

// Processor seconds of feedparser's best parse of the file; 0 when the reference cannot run.
double feedparserSeconds(const QString& file)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(FEEDPARSER_REFERENCE), file});
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        QTextStream(stderr) << "feedparser reference failed (is python3-feedparser installed?): "
                            << python.readAllStandardError() << '\n';
        return 0;
    }
    const QList<QByteArray> fields = python.readAllStandardOutput().trimmed().split(' ');
    return fields.size() == 2 ? fields.at(1).toDouble() : 0;
}

struct Case
{
    QString name;
    QByteArray body;
    QString contentType;
    int messages;
    QString file;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("VIRELON_TAMSIL_DATA_DIR"))
        qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTextStream out(stdout);
#ifndef NDEBUG
    out << "warning: not a Release build; the ratios mean little\n";
#endif

    const QString rss = QStringLiteral("application/rss+xml");
    QList<Case> cases = {{QStringLiteral("rss-1.8MB"), newsFeed(2000), rss, 2000, {}},
                         {QStringLiteral("atom-500KB"), atomFeed(500), QStringLiteral("application/atom+xml"), 500, {}},
                         {QStringLiteral("podcast-50KB"), podcastFeed(95), rss, 95, {}},
                         {QStringLiteral("rss-5KB"), newsFeed(5), rss, 5, {}}};
    QTemporaryDir dir;
    for (Case& c : cases) {
        c.file = dir.filePath(c.name + QStringLiteral(".xml"));
        QFile file(c.file);
        if (!file.open(QIODevice::WriteOnly) || file.write(c.body) != c.body.size())
            return 1;
    }

    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg(QStringLiteral("feed"), -13).arg(QStringLiteral("bytes"), 8)
               .arg(QStringLiteral("tamsil ms"), 10).arg(QStringLiteral("reader ms"), 10)
               .arg(QStringLiteral("feedparser ms"), 14).arg(QStringLiteral("x feedparser"), 13)
               .arg(QStringLiteral("/ reader"), 9);
    for (const Case& c : qAsConst(cases)) {
        Tamsil tamsil;
        FeedChannel request;
        request.setLink(QStringLiteral("https://bench.test/feed"));
        bool converted = true;
        const auto convert = [&] {
            converted = TamsilConversion::convert(tamsil, c.body, c.contentType, request)
                        && tamsil.channel().messages().size() == c.messages && converted;
        };
        const auto read = [&] {
            QXmlStreamReader reader(c.body);
            while (!reader.atEnd())
                reader.readNext();
        };
        // feedparser before and after, so that it too meets the conditions the others met.
        const double parserBefore = feedparserSeconds(c.file);
        const QPair<double, double> seconds = bestSeconds(convert, read);
        const double parserSeconds = qMin(parserBefore, feedparserSeconds(c.file));
        const double tamsilSeconds = seconds.first;
        const double readerSeconds = seconds.second;
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7%8\n")
                   .arg(c.name, -13).arg(c.body.size(), 8)
                   .arg(tamsilSeconds * 1e3, 10, 'f', 2).arg(readerSeconds * 1e3, 10, 'f', 2)
                   .arg(parserSeconds * 1e3, 14, 'f', 2)
                   .arg(parserSeconds > 0 ? parserSeconds / tamsilSeconds : 0.0, 13, 'f', 1)
                   .arg(tamsilSeconds / readerSeconds, 9, 'f', 2)
                   .arg(converted ? QString() : QStringLiteral("  CONVERSION FAILED"));
        out.flush();
    }
    return 0;
}
