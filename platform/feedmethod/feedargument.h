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

    // Encodes a value of a registered type; an unknown type or a failed save gives an empty argument.
    static FeedArgument fromValue(int typeId, const void* value);
    template<typename T>
    static FeedArgument fromValue(const T& value)
    {
        return fromValue(qMetaTypeId<T>(), &value);
    }

    bool isEmpty() const { return _typeName.isEmpty(); }
    QByteArray typeName() const { return _typeName; }
    QByteArray value() const { return _value; }

    // The decoded value; invalid when the type is unknown or the bytes are not exactly one value.
    QVariant toVariant() const;

    bool operator==(const FeedArgument& other) const
    {
        return _typeName == other._typeName && _value == other._value;
    }
    bool operator!=(const FeedArgument& other) const { return !(*this == other); }

private:
    QByteArray _typeName;
    QByteArray _value;
};

QDataStream& operator<<(QDataStream& stream, const FeedArgument& argument);
QDataStream& operator>>(QDataStream& stream, FeedArgument& argument);
QDebug operator<<(QDebug debug, const FeedArgument& argument);

Q_DECLARE_METATYPE(FeedArgument)

#endif
