#include "feedargument.h"

#include "feedtypes.h"

#include <QDataStream>
#include <QDebug>

FeedArgument::FeedArgument(const QByteArray& typeName, const QByteArray& value)
    : _typeName(typeName)
    , _value(value)
{
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
    QDataStream stream(_value);
    stream.setVersion(FeedTypes::StreamVersion);
    if (!QMetaType::load(stream, typeId, result.data()) || stream.status() != QDataStream::Ok
        || !stream.atEnd())
        return QVariant();
    return result;
}

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument)
{
    return stream << argument.typeName() << argument.value();
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
    debug.nospace() << "FeedArgument(" << argument.typeName() << ", " << argument.value().size()
                    << " bytes)";
    return debug;
}
