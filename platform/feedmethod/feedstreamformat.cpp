#include "feedstreamformat.h"

#include "feedtypes.h"

FeedStreamFormat::FeedStreamFormat(QDataStream& stream)
    : _stream(stream)
    , _version(stream.version())
    , _byteOrder(stream.byteOrder())
{
    stream.setVersion(FeedTypes::StreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
}

FeedStreamFormat::~FeedStreamFormat()
{
    _stream.setVersion(_version);
    _stream.setByteOrder(_byteOrder);
}
