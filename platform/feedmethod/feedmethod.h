#ifndef FEEDMETHOD_H
#define FEEDMETHOD_H

#include "feedargument.h"

#include <QByteArray>
#include <QGenericArgument>
#include <QList>
#include <QMetaType>
#include <QVariant>
#include <QVector>

class QDataStream;
class QDebug;
class QIODevice;

// Constants both ends of the plug-in process protocol agree on.
namespace FeedProtocol {

// The interface version a plug-in reports for "version".
constexpr const char InterfaceVersion[] = "0.1";
// The record a plug-in writes on its standard output once the answer to a synchronous request
// is in the communication file. It is no method name, so it never reaches a method by mistake.
constexpr const char AnswerName[] = "@answer";
// A record that claims more bytes than this is broken, not just long.
constexpr quint32 MaximumRecordSize = 64 * 1024 * 1024;
// The number of argument slots a request carries.
constexpr int ArgumentSlots = 10;

} // namespace FeedProtocol

// One named call or signal of the plug-in process protocol with its typed arguments.
//
// On the wire a record is self-delimiting: a 32-bit big-endian byte count, then that many
// bytes holding the name, the return-type name, the sequence number and the arguments.
// The sequence number ties an answer or a signal to the request it belongs to.
class FeedMethod
{
public:
    FeedMethod() = default;
    explicit FeedMethod(const QByteArray& name, quint32 sequence = 0);

    QByteArray name() const { return _name; }
    void setName(const QByteArray& name) { _name = name; }
    QByteArray returnType() const { return _returnType; }
    void setReturnType(const QByteArray& returnType) { _returnType = returnType; }
    quint32 sequence() const { return _sequence; }
    void setSequence(quint32 sequence) { _sequence = sequence; }

    QList<FeedArgument> arguments() const { return _arguments; }
    void addArgument(const FeedArgument& argument);
    // The arguments up to the first empty one.
    QList<FeedArgument> actualArguments() const;
    // The method signature that the actual arguments select, e.g. "downloadFeeds(FeedChannel)".
    QByteArray signature() const;

    // At least ten entries: entry i names argument i's type and points to its decoded value;
    // an empty argument gives an empty entry, an undecodable one an entry without data.
    // The values stay valid while this record and the list live.
    QList<QGenericArgument> genericArguments() const;
    // True when every actual argument decodes to a value of its type.
    bool hasDecodableArguments() const;

    static QByteArray toByteArray(const FeedMethod& method);
    // Reads one record from device's position, as the stream operator would, into method, but
    // decoding its values straight from the device rather than holding their bytes: for a device
    // that can seek, such as a file. False when no whole, valid record is there.
    static bool readFrom(QIODevice* device, FeedMethod* method);
    // Registers both records with the meta-type system, stream operators included.
    static void registerTypes();

private:
    void decodeArguments() const;

    QByteArray _name;
    QByteArray _returnType;
    quint32 _sequence = 0;
    QList<FeedArgument> _arguments;
    mutable QVector<QVariant> _decoded;
};

// Writes one whole record.
QDataStream& operator<<(QDataStream& stream, const FeedMethod& method);
// Reads one whole record. Too few bytes leave the stream at ReadPastEnd (use a transaction to
// wait for the rest); a record that is oversized or does not parse sets ReadCorruptData.
QDataStream& operator>>(QDataStream& stream, FeedMethod& method);
QDebug operator<<(QDebug debug, const FeedMethod& method);

Q_DECLARE_METATYPE(FeedMethod)

#endif
