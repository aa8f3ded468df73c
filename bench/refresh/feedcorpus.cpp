#include "feedcorpus.h"

#include "httpfixture.h"

#include <QDateTime>

namespace {

const int NewsItems = 2000;
const int PodcastItems = 100;

const char* const Words[] = {
    "the",     "reader",  "phone",   "battery", "update",  "release", "kernel",  "driver",  "screen",
    "network", "mobile",  "morning", "garden",  "recipe",  "travel",  "window",  "market",  "signal",
    "river",   "mountain", "library", "concert", "weather", "season",  "station", "museum",  "planet",
    "and",     "with",    "from",    "over",    "under",   "before",  "after",   "during",  "about",
    "quietly", "quickly", "finally", "almost",  "rarely",  "often",   "always",  "never",   "today"};

// A fixed stream of pseudo-random numbers, so that every run serves the same bytes.
class Numbers
{
public:
    explicit Numbers(quint32 seed) : _state(seed * 2654435761u + 1) {}
    quint32 next(quint32 bound)
    {
        _state = _state * 1103515245u + 12345u;
        return (_state >> 8) % bound;
    }

private:
    quint32 _state;
};

QByteArray words(Numbers& numbers, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ' ';
        text += Words[numbers.next(sizeof(Words) / sizeof(*Words))];
    }
    return text;
}

// Roughly `size` bytes of the HTML a blog post carries: paragraphs, emphasis, links, a list.
QByteArray html(Numbers& numbers, int size, const QByteArray& site)
{
    QByteArray text;
    while (text.size() < size) {
        switch (numbers.next(5)) {
        case 0:
            text += "<ul><li>" + words(numbers, 5) + "</li><li>" + words(numbers, 6) + "</li></ul>";
            break;
        case 1:
            text += "<p>" + words(numbers, 12) + " <a href=\"" + site + "/page/" + QByteArray::number(numbers.next(999))
                    + "\">" + words(numbers, 3) + "</a> " + words(numbers, 10) + ".</p>";
            break;
        default:
            text += "<p>" + words(numbers, 20) + " <b>" + words(numbers, 2) + "</b> " + words(numbers, 15) + ".</p>";
        }
    }
    return text;
}

// The shortest post that still gives the formatter its work: a paragraph with a relative link.
QByteArray line(Numbers& numbers)
{
    return "<p>" + words(numbers, 8) + " <a href=\"/page/" + QByteArray::number(numbers.next(999)) + "\">"
           + words(numbers, 2) + "</a>.</p>";
}

QByteArray escaped(const QByteArray& text)
{
    return QByteArray(text).replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
}

QByteArray rfc822(int hoursAgo)
{
    const QDateTime time = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).addSecs(-3600LL * hoursAgo);
    return time.toString(QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() + " +0000";
}

QByteArray iso(int hoursAgo)
{
    return QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).addSecs(-3600LL * hoursAgo).toString(Qt::ISODate).toLatin1();
}

QByteArray rss(int number, int items, int descriptionSize, const QByteArray& mediaBase)
{
    Numbers numbers(number);
    const QByteArray site = "http://site" + QByteArray::number(number) + ".example";
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>"
                      + words(numbers, 3) + "</title><link>" + site + "/</link><description>"
                      + words(numbers, 8) + "</description><language>en</language>\n";
    for (int item = 0; item < items; ++item) {
        const QByteArray id = QByteArray::number(item);
        const QByteArray text = descriptionSize ? html(numbers, descriptionSize, site) : line(numbers);
        body += "<item><title>" + words(numbers, 6) + "</title><link>" + site + "/post/" + id + "</link><guid>" + site
                + "/post/" + id + "</guid><pubDate>" + rfc822(item * 7 + 1) + "</pubDate><description>"
                + (item % 2 ? "<![CDATA[" + text + "]]>" : escaped(text)) + "</description>";
        if (!mediaBase.isEmpty())
            body += "<enclosure url=\"" + mediaBase + "/" + QByteArray::number(number) + "/" + id
                    + ".mp3\" length=\"" + QByteArray::number(20000000 + numbers.next(9000000))
                    + "\" type=\"audio/mpeg\"/>";
        body += "</item>\n";
    }
    return body + "</channel></rss>\n";
}

QByteArray atom(int number, int items, int contentSize)
{
    Numbers numbers(number);
    const QByteArray site = "http://site" + QByteArray::number(number) + ".example";
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>"
                      + words(numbers, 3) + "</title><id>" + site + "/</id><link href=\"" + site + "/\"/><updated>"
                      + iso(0) + "</updated>\n";
    for (int item = 0; item < items; ++item) {
        const QByteArray id = QByteArray::number(item);
        body += "<entry><title>" + words(numbers, 6) + "</title><id>" + site + "/entry/" + id + "</id><link href=\""
                + site + "/entry/" + id + "\"/><updated>" + iso(item * 5 + 1) + "</updated><author><name>"
                + words(numbers, 2) + "</name></author><summary>" + words(numbers, 18)
                + "</summary><content type=\"html\">" + escaped(html(numbers, contentSize, site)) + "</content></entry>\n";
    }
    return body + "</feed>\n";
}

// The busy feed's place in each hundred: in neither its first nor its last tenth.
const int NewsPlace = 55;

// The large feed's own number, so that its sites are no other feed's.
const int LargeNumber = 1000000;

QString serve(HttpFixture* server, const QString& path, const QByteArray& body, bool conditional)
{
    HttpFixture::Reply reply;
    reply.body = body;
    reply.addHeader("Content-Type", body.contains("<feed xmlns") ? "application/atom+xml" : "application/rss+xml");
    if (conditional)
        reply.lastModified = "Sat, 01 Jun 2024 12:00:00 GMT";
    server->setReply(path, reply);
    return server->url(path).toString();
}

} // namespace

FeedCorpus::FeedCorpus(HttpFixture* server, int feeds, int itemsPerFeed)
{
    const QByteArray mediaBase = server->url(QStringLiteral("/media")).toEncoded();
    for (int number = 0; number < feeds; ++number) {
        const int place = number % 100;
        const bool news = place == NewsPlace;
        const bool podcast = place % 10 == 0;
        const int mixed = news ? NewsItems : podcast ? PodcastItems : 10 + (number * 37) % 49;
        const int items = itemsPerFeed ? itemsPerFeed : mixed;
        if (news)
            add(server, rss(number, items, 640, QByteArray()), items, true);
        else if (podcast)
            add(server, rss(number, items, 1100, mediaBase), items, place % 20);
        else
            add(server, number % 3 ? rss(number, items, 2000, QByteArray()) : atom(number, items, 2000), items,
                number % 2);
    }
}

QString FeedCorpus::addLarge(HttpFixture* server, int items)
{
    // A line an item: the whole channel must fit in one record of the plug-in protocol (64 MiB).
    return serve(server, QStringLiteral("/large.xml"), rss(LargeNumber, items, 0, QByteArray()), false);
}

void FeedCorpus::add(HttpFixture* server, const QByteArray& body, int items, bool conditional)
{
    _links.append(serve(server, QStringLiteral("/feed/%1.xml").arg(_links.size()), body, conditional));
    _itemCounts.append(items);
    _items += items;
    _bytes += body.size();
}

int FeedCorpus::itemsKept(int limit) const
{
    int kept = 0;
    for (int count : _itemCounts)
        kept += qMin(count, limit);
    return kept;
}
