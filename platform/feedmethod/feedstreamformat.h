#ifndef FEEDSTREAMFORMAT_H
#define FEEDSTREAMFORMAT_H

#include <QDataStream>

// Within its scope a stream reads and writes the protocol's records in their own format, whatever
// format the stream's owner has set: a record's layout never depends on the stream that carries it.
class FeedStreamFormat
{
public:
    explicit FeedStreamFormat(QDataStream& stream);
    ~FeedStreamFormat();

private:
    Q_DISABLE_COPY(FeedStreamFormat)

    QDataStream& _stream;
    const int _version;
    const QDataStream::ByteOrder _byteOrder;
};

#endif
