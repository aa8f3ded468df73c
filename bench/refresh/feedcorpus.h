#ifndef FEEDCORPUS_H
#define FEEDCORPUS_H

#include <QByteArray>
#include <QStringList>

class HttpFixture;

// The feeds a reader meets, made up the same way on every run and served on 127.0.0.1: in every
// hundred, one busy news feed and ten podcasts with media enclosures among small blogs (RSS 2.0
// and Atom), spread so that every tenth of a thousand feeds holds the same mix. Half of them
// answer a conditional request with 304; the others send the same body again.
class FeedCorpus
{
public:
    // itemsPerFeed 0 keeps the mix's own counts, about sixty items a feed; any other number
    // gives every feed that many.
    FeedCorpus(HttpFixture* server, int feeds, int itemsPerFeed);

    // One RSS feed of `items` short items on the server; its link.
    static QString addLarge(HttpFixture* server, int items);

    const QStringList& links() const { return _links; }
    int items() const { return _items; }
    qint64 bytes() const { return _bytes; }
    // Items a reader keeping at most `limit` a feed holds after the first round.
    int itemsKept(int limit) const;

private:
    void add(HttpFixture* server, const QByteArray& body, int items, bool conditional);

    QStringList _links;
    QList<int> _itemCounts;
    int _items = 0;
    qint64 _bytes = 0;
};

#endif
