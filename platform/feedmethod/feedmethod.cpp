#include "feedmethod.h"

#include "feedtypes.h"

#include <QDataStream>
#include <QDebug>

namespace {

// More argument slots than this cannot come from either end.
constexpr quint32 MaximumArguments = 64;

QByteArray payloadOf(const FeedMethod& method)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setVersion(FeedTypes::StreamVersion);
    const QList<FeedArgument> arguments = method.arguments();
    stream << method.name() << method.returnType() << method.sequence()
           << quint32(arguments.size());
    for (const FeedArgument& argument : arguments)
        stream << argument;
    return payload;
}

bool parsePayload(const QByteArray& payload, FeedMethod& method)
{
    QDataStream stream(payload);
    stream.setVersion(FeedTypes::StreamVersion);
    QByteArray name;
    QByteArray returnType;
    quint32 sequence = 0;
    quint32 count = 0;
    stream >> name >> returnType >> sequence >> count;
    if (stream.status() != QDataStream::Ok || count > MaximumArguments)
        return false;
    FeedMethod parsed(name, sequence);
    parsed.setReturnType(returnType);
    for (quint32 i = 0; i < count; ++i) {
        FeedArgument argument;
        stream >> argument;
        parsed.addArgument(argument);
    }
    if (stream.status() != QDataStream::Ok || !stream.atEnd())
        return false;
    method = parsed;
    return true;
}

} // namespace

FeedMethod::FeedMethod(const QByteArray& name, quint32 sequence)
    : _name(name)
    , _sequence(sequence)
{
}

void FeedMethod::addArgument(const FeedArgument& argument)
{
    _arguments.append(argument);
    _decoded.clear();
}

QList<FeedArgument> FeedMethod::actualArguments() const
{
    QList<FeedArgument> actual;
    for (const FeedArgument& argument : _arguments) {
        if (argument.isEmpty())
            break;
        actual.append(argument);
    }
    return actual;
}

QByteArray FeedMethod::signature() const
{
    QByteArrayList types;
    for (const FeedArgument& argument : actualArguments())
        types.append(argument.typeName());
    return QMetaObject::normalizedSignature(_name + '(' + types.join(',') + ')');
}

void FeedMethod::decodeArguments() const
{
    if (_decoded.size() == _arguments.size())
        return;
    QVector<QVariant> decoded;
    decoded.reserve(_arguments.size());
    for (const FeedArgument& argument : _arguments)
        decoded.append(argument.toVariant());
    _decoded = decoded;
}

QList<QGenericArgument> FeedMethod::genericArguments() const
{
    decodeArguments();
    QList<QGenericArgument> generic;
    for (int i = 0; i < _arguments.size(); ++i) {
        const FeedArgument& argument = _arguments.at(i);
        if (argument.isEmpty())
            generic.append(QGenericArgument());
        else
            generic.append(QGenericArgument(argument.typeName().constData(),
                                            _decoded.at(i).isValid() ? _decoded.at(i).constData()
                                                                     : nullptr));
    }
    while (generic.size() < FeedProtocol::ArgumentSlots)
        generic.append(QGenericArgument());
    return generic;
}

bool FeedMethod::hasDecodableArguments() const
{
    decodeArguments();
    for (int i = 0; i < _arguments.size() && !_arguments.at(i).isEmpty(); ++i) {
        if (!_decoded.at(i).isValid())
            return false;
    }
    return true;
}

QByteArray FeedMethod::toByteArray(const FeedMethod& method)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << method;
    return bytes;
}

void FeedMethod::registerTypes()
{
    qRegisterMetaTypeStreamOperators<FeedMethod>("FeedMethod");
    qRegisterMetaTypeStreamOperators<FeedArgument>("FeedArgument");
    qRegisterMetaType<FeedMethod>("FeedMethod");
    qRegisterMetaType<FeedArgument>("FeedArgument");
}

QDataStream& operator<<(QDataStream& stream, const FeedMethod& method)
{
    const QByteArray payload = payloadOf(method);
    stream << quint32(payload.size());
    stream.writeRawData(payload.constData(), payload.size());
    return stream;
}

QDataStream& operator>>(QDataStream& stream, FeedMethod& method)
{
    quint32 size = 0;
    stream >> size;
    if (stream.status() != QDataStream::Ok)
        return stream;
    if (size > FeedProtocol::MaximumRecordSize) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return stream;
    }
    QByteArray payload(int(size), Qt::Uninitialized);
    if (stream.readRawData(payload.data(), int(size)) != int(size)) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return stream;
    }
    if (!parsePayload(payload, method))
        stream.setStatus(QDataStream::ReadCorruptData);
    return stream;
}

QDebug operator<<(QDebug debug, const FeedMethod& method)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "FeedMethod(" << method.name() << ", return " << method.returnType()
                    << ", #" << method.sequence() << ", " << method.actualArguments().size()
                    << " arguments)";
    return debug;
}
