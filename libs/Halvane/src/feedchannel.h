#ifndef FEEDCHANNEL_H
#define FEEDCHANNEL_H

#include "feedenclosure.h"
#include "feedmessage.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

// A subscribed feed channel. An empty uri() stands for no channel.
class FeedChannel
{
public:
    QString uri() const { return _uri; }
    QString link() const { return _link; }
    QString title() const { return _title; }
    QString description() const { return _description; }
    QString type() const { return _type; }
    QString lastModifiedTime() const { return _lastModifiedTime; }
    FeedEnclosure icon() const { return _icon; }
    QList<FeedMessage> messages() const { return _messages; }
    QDateTime subscribedTime() const { return _subscribedTime; }
    QDateTime updatedTime() const { return _updatedTime; }

    void setUri(const QString& uri) { _uri = uri; }
    void setLink(const QString& link) { _link = link; }
    void setTitle(const QString& title) { _title = title; }
    void setDescription(const QString& description) { _description = description; }
    void setType(const QString& type) { _type = type; }
    void setLastModifiedTime(const QString& lastModified) { _lastModifiedTime = lastModified; }
    void setIcon(const FeedEnclosure& icon) { _icon = icon; }
    void setMessages(QList<FeedMessage>& messages) { _messages = messages; }
    void setSubscribedTime(const QDateTime& time) { _subscribedTime = time; }
    void setUpdatedTime(const QDateTime& time) { _updatedTime = time; }

private:
    QString _uri;
    QString _link;
    QString _title;
    QString _description;
    QString _type;
    QString _lastModifiedTime;
    FeedEnclosure _icon;
    QList<FeedMessage> _messages;
    QDateTime _subscribedTime;
    QDateTime _updatedTime;

    friend QDataStream& operator<<(QDataStream& stream, const FeedChannel& channel);
    friend QDataStream& operator>>(QDataStream& stream, FeedChannel& channel);
};

QDataStream& operator<<(QDataStream& stream, const FeedChannel& channel);
QDataStream& operator>>(QDataStream& stream, FeedChannel& channel);
QDebug operator<<(QDebug debug, const FeedChannel& channel);
// The same line with another message count: a channel read without its messages.
QDebug printChannel(QDebug debug, const FeedChannel& channel, int messageCount);

Q_DECLARE_METATYPE(FeedChannel)

#endif
