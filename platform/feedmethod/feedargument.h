#ifndef FEEDARGUMENT_H
#define FEEDARGUMENT_H

#include <QByteArray>
#include <QMetaType>
#include <QVariant>

class QDataStream;
class QDebug;

// One typed argument of a plug-in call: the meta-type name of the value and the value as its
// registered stream operator writes it. An argument with an empty type name is "no argument".
//
// A value the argument is made from, or decodes as it is read, is kept as it is and written
// straight into the stream that carries its record: a fetched channel runs to megabytes, and is
// never held as bytes besides.
class FeedArgument
{
public:
    FeedArgument() = default;
    FeedArgument(const QByteArray& typeName, const QByteArray& value);

    // Keeps a value of a registered type; an unknown type or a failed save gives an empty argument.
    static FeedArgument fromValue(int typeId, const void* value);
    template<typename T>
    static FeedArgument fromValue(const T& value)
    {
        return fromValue(qMetaTypeId<T>(), &value);
    }
    // Reads an argument as the stream operator writes it, decoding the value straight from the
    // stream, whose device must be able to seek. A value that does not decode is kept as bytes.
    static FeedArgument readDecoded(QDataStream& stream);

    bool isEmpty() const { return _typeName.isEmpty(); }
    QByteArray typeName() const { return _typeName; }
    // The value's bytes, as its stream operator writes them.
    QByteArray value() const;
    int valueSize() const { return _size; }
    // The number of bytes the stream operator writes: the type name and the value, each after its
    // length.
    qint64 streamedSize() const { return 2 * sizeof(quint32) + _typeName.size() + _size; }

    // The decoded value; invalid when the type is none the protocol carries or the bytes are not
    // exactly one value.
    QVariant toVariant() const;

    bool operator==(const FeedArgument& other) const
    {
        return _typeName == other._typeName && value() == other.value();
    }
    bool operator!=(const FeedArgument& other) const { return !(*this == other); }

private:
    friend QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument);

    QByteArray _typeName;
    // The value's bytes, unless _value holds the value itself.
    QByteArray _bytes;
    QVariant _value;
    int _size = 0;
};

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument);
QDataStream& operator>>(QDataStream& stream, FeedArgument& argument);
QDebug operator<<(QDebug debug, const FeedArgument& argument);

Q_DECLARE_METATYPE(FeedArgument)

#endif
