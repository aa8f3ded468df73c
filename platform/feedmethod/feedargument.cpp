#include "feedargument.h"

#include "feedchannel.h"
#include "feedstreamformat.h"

#include <QDataStream>
#include <QDebug>
#include <QIODevice>

#include <climits>

namespace {

// The byte-array operator's length of a null array.
constexpr quint32 NullLength = 0xffffffff;

// Counts the bytes a stream writes, and keeps none of them.
class ByteCounter : public QIODevice
{
public:
    ByteCounter() { open(QIODevice::WriteOnly); }
    qint64 count() const { return _count; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 length) override
    {
        _count += length;
        return length;
    }

private:
    qint64 _count = 0;
};

bool save(QDataStream& stream, const QVariant& value)
{
    const FeedStreamFormat format(stream);
    return QMetaType::save(stream, value.userType(), value.constData()) && stream.status() == QDataStream::Ok;
}

// The values of the enclosure result map: its MIME type and its length, a text and a number.
bool isCarriedInMap(int typeId)
{
    return typeId == QMetaType::QString || typeId == QMetaType::Int || typeId == QMetaType::UInt
           || typeId == QMetaType::LongLong;
}

// The types of the values the protocol's records carry: the requests' channel and enclosure, the
// answers' text, channel and elapsed time, the signals' codes, byte counts and enclosure result
// map. No other type is decoded: Qt's readers of lists reserve room for whatever count a record
// claims, and a variant may hold any type at all.
bool isCarried(int typeId)
{
    return isCarriedInMap(typeId) || typeId == QMetaType::QVariantMap || typeId == qMetaTypeId<FeedChannel>()
           || typeId == qMetaTypeId<FeedEnclosure>();
}

// Reads a map as Qt's operator writes it, refusing values of other types than the protocol's maps
// hold: Qt's reader takes variants of any type, lists or maps nested without a bound on the depth.
bool loadMap(QDataStream& stream, QVariantMap* map)
{
    quint32 count = 0;
    stream >> count;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QString key;
        quint32 typeId = QMetaType::UnknownType;
        qint8 isNull = 0;
        stream >> key >> typeId >> isNull;
        if (!isCarriedInMap(int(typeId)))
            return false;
        QVariant value(int(typeId), nullptr);
        if (!QMetaType::load(stream, int(typeId), value.data()))
            return false;
        map->insert(key, value);
    }
    return stream.status() == QDataStream::Ok;
}

// The value of the type named, when it takes exactly the stream's bytes up to end.
QVariant decode(QDataStream& stream, const QByteArray& typeName, qint64 end)
{
    const int typeId = QMetaType::type(typeName.constData());
    if (!isCarried(typeId))
        return QVariant();
    QVariant value(typeId, nullptr);
    const FeedStreamFormat format(stream);
    const bool loaded = typeId == QMetaType::QVariantMap ? loadMap(stream, static_cast<QVariantMap*>(value.data()))
                                                         : QMetaType::load(stream, typeId, value.data());
    if (!loaded || stream.status() != QDataStream::Ok || stream.device()->pos() != end)
        return QVariant();
    return value;
}

} // namespace

FeedArgument::FeedArgument(const QByteArray& typeName, const QByteArray& value)
    : _typeName(typeName)
    , _bytes(value)
    , _size(value.size())
{
}

FeedArgument FeedArgument::fromValue(int typeId, const void* value)
{
    const char* name = QMetaType::typeName(typeId);
    if (!name || !value)
        return FeedArgument();
    const QVariant kept(typeId, value);
    ByteCounter counter;
    QDataStream stream(&counter);
    if (!save(stream, kept) || counter.count() > INT_MAX)
        return FeedArgument();
    FeedArgument argument(name, QByteArray());
    argument._value = kept;
    argument._size = int(counter.count());
    return argument;
}

FeedArgument FeedArgument::readDecoded(QDataStream& stream)
{
    QByteArray typeName;
    quint32 size = NullLength;
    stream >> typeName >> size;
    if (stream.status() != QDataStream::Ok)
        return FeedArgument();
    if (size == NullLength)
        return FeedArgument(typeName, QByteArray());
    QIODevice* device = stream.device();
    const qint64 start = device->pos();
    if (device->isSequential() || size > device->size() - start) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return FeedArgument();
    }
    FeedArgument argument(typeName, QByteArray());
    argument._size = int(size);
    argument._value = decode(stream, typeName, start + size);
    if (argument._value.isValid())
        return argument;
    // Not a value of its type: the bytes travel on as they are, for the receiver to refuse.
    stream.resetStatus();
    argument._bytes.resize(int(size));
    if (!device->seek(start) || stream.readRawData(argument._bytes.data(), int(size)) != int(size))
        stream.setStatus(QDataStream::ReadPastEnd);
    return argument;
}

QByteArray FeedArgument::value() const
{
    if (!_value.isValid())
        return _bytes;
    QByteArray bytes;
    bytes.reserve(_size);
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    save(stream, _value);
    return bytes;
}

QVariant FeedArgument::toVariant() const
{
    if (_value.isValid())
        return _value;
    QDataStream stream(_bytes);
    return decode(stream, _typeName, _bytes.size());
}

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument)
{
    if (!argument._value.isValid())
        return stream << argument._typeName << argument._bytes;
    stream << argument._typeName << quint32(argument._size);
    save(stream, argument._value);
    return stream;
}

QDataStream& operator>>(QDataStream& stream, FeedArgument& argument)
{
    QByteArray typeName;
    QByteArray value;
    stream >> typeName >> value;
    argument = stream.status() == QDataStream::Ok ? FeedArgument(typeName, value) : FeedArgument();
    return stream;
}

QDebug operator<<(QDebug debug, const FeedArgument& argument)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "FeedArgument(" << argument.typeName() << ", " << argument.valueSize() << " bytes)";
    return debug;
}
