#include "feedargument.h"

#include "feedtypes.h"

#include <QDataStream>
#include <QDebug>

FeedArgument::FeedArgument(const QByteArray& typeName, const QByteArray& value)
    : _typeName(typeName)
    , _bytes(value)
    , _size(value.size())
{
}

// The value is read as the byte-array operator writes it: a 32-bit length, all ones for a null
// value, then the bytes.
FeedArgument FeedArgument::readShared(QDataStream& stream, const QByteArray& bytes)
{
    QByteArray typeName;
    quint32 size = 0;
    stream >> typeName >> size;
    if (stream.status() != QDataStream::Ok)
        return FeedArgument();
    if (size == 0xffffffff)
        return FeedArgument(typeName, QByteArray());
    const qint64 offset = stream.device()->pos();
    if (offset > bytes.size() || size > quint64(bytes.size() - offset)) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return FeedArgument();
    }
    stream.skipRawData(int(size));
    FeedArgument argument(typeName, bytes);
    argument._offset = int(offset);
    argument._size = int(size);
    return argument;
}

QByteArray FeedArgument::value() const
{
    if (_offset == 0 && _size == _bytes.size())
        return _bytes;
    return QByteArray(_bytes.constData() + _offset, _size);
}

QByteArray FeedArgument::valueView() const
{
    if (_offset == 0 && _size == _bytes.size())
        return _bytes;
    return QByteArray::fromRawData(_bytes.constData() + _offset, _size);
}

FeedArgument FeedArgument::fromValue(int typeId, const void* value)
{
    const char* name = QMetaType::typeName(typeId);
    if (!name || !value)
        return FeedArgument();
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(FeedTypes::StreamVersion);
    if (!QMetaType::save(stream, typeId, value))
        return FeedArgument();
    return FeedArgument(name, bytes);
}

QVariant FeedArgument::toVariant() const
{
    const int typeId = QMetaType::type(_typeName.constData());
    if (isEmpty() || typeId == QMetaType::UnknownType || typeId == QMetaType::Void)
        return QVariant();
    QVariant result(typeId, nullptr);
    QDataStream stream(valueView());
    stream.setVersion(FeedTypes::StreamVersion);
    if (!QMetaType::load(stream, typeId, result.data()) || stream.status() != QDataStream::Ok
        || !stream.atEnd())
        return QVariant();
    return result;
}

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument)
{
    return stream << argument.typeName() << argument.valueView();
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
