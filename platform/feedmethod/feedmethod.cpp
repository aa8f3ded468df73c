#include "feedmethod.h"

#include "feedstreamformat.h"

#include <QDataStream>
#include <QDebug>

namespace {

// More argument slots than this cannot come from either end.
constexpr quint32 MaximumArguments = 64;

// The byte-array operator writes a length, then the bytes.
qint64 streamedSize(const QByteArray& bytes)
{
    return sizeof(quint32) + bytes.size();
}

qint64 payloadSize(const FeedMethod& method)
{
    qint64 size = streamedSize(method.name()) + streamedSize(method.returnType()) + 2 * sizeof(quint32);
    for (const FeedArgument& argument : method.arguments())
        size += argument.streamedSize();
    return size;
}

// Reads the payload at the stream's position, which must end at end. Values are decoded as they are
// read only where asked: a signal record's values wait until its names have been checked.
bool parsePayload(QDataStream& stream, qint64 end, bool decodeValues, FeedMethod& method)
{
    const FeedStreamFormat format(stream);
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
        if (decodeValues)
            argument = FeedArgument::readDecoded(stream);
        else
            stream >> argument;
        parsed.addArgument(argument);
    }
    if (stream.status() != QDataStream::Ok || stream.device()->pos() != end)
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
    bytes.reserve(int(sizeof(quint32) + payloadSize(method)));
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << method;
    return bytes;
}

bool FeedMethod::readFrom(QIODevice* device, FeedMethod* method)
{
    QDataStream stream(device);
    quint32 size = 0;
    stream >> size;
    const qint64 end = device->pos() + qint64(size);
    if (stream.status() != QDataStream::Ok || size > FeedProtocol::MaximumRecordSize || device->isSequential()
        || end > device->size())
        return false;
    return parsePayload(stream, end, true, *method);
}

void FeedMethod::registerTypes()
{
    qRegisterMetaTypeStreamOperators<FeedMethod>("FeedMethod");
    qRegisterMetaTypeStreamOperators<FeedArgument>("FeedArgument");
    qRegisterMetaType<FeedMethod>("FeedMethod");
    qRegisterMetaType<FeedArgument>("FeedArgument");
}

// The arguments go straight to the stream: a fetched channel is not copied once more first.
QDataStream& operator<<(QDataStream& stream, const FeedMethod& method)
{
    stream << quint32(payloadSize(method));
    const FeedStreamFormat format(stream);
    const QList<FeedArgument> arguments = method.arguments();
    stream << method.name() << method.returnType() << method.sequence() << quint32(arguments.size());
    for (const FeedArgument& argument : arguments)
        stream << argument;
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
    QDataStream payloadStream(payload);
    if (!parsePayload(payloadStream, payload.size(), false, method))
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
