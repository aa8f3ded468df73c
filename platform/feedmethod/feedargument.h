#ifndef FEEDARGUMENT_H
#define FEEDARGUMENT_H

#include <QByteArray>
#include <QMetaType>
#include <QVariant>

class QDataStream;
class QDebug;

// One typed argument of a plug-in call: the meta-type name of the value and the value as its
// registered stream operator writes it. An argument with an empty type name is "no argument".
class FeedArgument
{
public:
    FeedArgument() = default;
    FeedArgument(const QByteArray& typeName, const QByteArray& value);

    // Reads an argument from a stream over bytes. Its value is not copied out: it stays a part
    // of bytes, which the argument keeps, since a fetched channel's value runs to megabytes.
    static FeedArgument readShared(QDataStream& stream, const QByteArray& bytes);

    // Encodes a value of a registered type; an unknown type or a failed save gives an empty argument.
    static FeedArgument fromValue(int typeId, const void* value);
    template<typename T>
    static FeedArgument fromValue(const T& value)
    {
        return fromValue(qMetaTypeId<T>(), &value);
    }

    bool isEmpty() const { return _typeName.isEmpty(); }
    QByteArray typeName() const { return _typeName; }
    QByteArray value() const;
    int valueSize() const { return _size; }
    // The number of bytes the stream operator writes: a length before the type name and one
    // before the value, then their bytes.
    qint64 streamedSize() const { return 2 * sizeof(quint32) + _typeName.size() + _size; }

    // The decoded value; invalid when the type is unknown or the bytes are not exactly one value.
    QVariant toVariant() const;

    bool operator==(const FeedArgument& other) const
    {
        return _typeName == other._typeName && valueView() == other.valueView();
    }
    bool operator!=(const FeedArgument& other) const { return !(*this == other); }

private:
    friend QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument);

    // The value's bytes in place; valid while this argument lives.
    QByteArray valueView() const;

    QByteArray _typeName;
    // The value is _size bytes of _bytes from _offset on; a null _bytes is a null value.
    QByteArray _bytes;
    int _offset = 0;
    int _size = 0;
};

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument);
QDataStream& operator>>(QDataStream& stream, FeedArgument& argument);
QDebug operator<<(QDebug debug, const FeedArgument& argument);

Q_DECLARE_METATYPE(FeedArgument)

#endif
