#ifndef FEEDENCLOSURE_H
#define FEEDENCLOSURE_H

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

class QDataStream;
class QDebug;

// A file attached to a message or a channel: its record in the store and its download.
class FeedEnclosure
{
public:
    enum Type {
        Essential = 1, // channel icon and description images: fetched at every refresh while missing
        Optional = 2   // media: fetched automatically only when allowed
    };

    QString uri() const { return _uri; }
    QString remoteUrl() const { return _remoteUrl; }
    QString localUrl() const { return _localUrl; }
    QString mimeType() const { return _mimeType; }
    QString typeIcon() const { return _typeIcon; }
    Type type() const { return _type; }
    unsigned int length() const { return _length; }
    unsigned int groupId() const { return _groupId; }
    bool isDefault() const { return _default; }

    void setUri(const QString& uri) { _uri = uri; }
    void setRemoteUrl(const QString& url) { _remoteUrl = url; }
    void setLocalUrl(const QString& url) { _localUrl = url; }
    void setMimeType(const QString& mimeType) { _mimeType = mimeType; }
    void setTypeIcon(const QString& icon) { _typeIcon = icon; }
    void setType(Type type) { _type = type; }
    void setLength(unsigned int length) { _length = length; }
    void setGroupId(unsigned int groupId) { _groupId = groupId; }
    void setDefault(bool isDefault) { _default = isDefault; }

    // The remote URL is the one field that a stored record and a freshly fetched one share.
    bool operator==(const FeedEnclosure& other) const { return _remoteUrl == other._remoteUrl; }
    bool operator!=(const FeedEnclosure& other) const { return !(*this == other); }

private:
    QString _uri;
    QString _remoteUrl;
    QString _localUrl;
    QString _mimeType;
    QString _typeIcon;
    Type _type = Essential;
    unsigned int _length = 0;
    unsigned int _groupId = 0;
    bool _default = false;

    friend QDataStream& operator<<(QDataStream& stream, const FeedEnclosure& enclosure);
    friend QDataStream& operator>>(QDataStream& stream, FeedEnclosure& enclosure);
};

QDataStream& operator<<(QDataStream& stream, const FeedEnclosure& enclosure);
QDataStream& operator>>(QDataStream& stream, FeedEnclosure& enclosure);
QDebug operator<<(QDebug debug, const FeedEnclosure& enclosure);

// Hashes what operator== compares.
inline uint qHash(const FeedEnclosure& enclosure, uint seed = 0)
{
    return qHash(enclosure.remoteUrl(), seed);
}

Q_DECLARE_METATYPE(FeedEnclosure)

#endif
