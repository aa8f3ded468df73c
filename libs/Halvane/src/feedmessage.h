#ifndef FEEDMESSAGE_H
#define FEEDMESSAGE_H

#include "feedenclosure.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

// One message (item, entry) of a channel. It carries no store URI: the store finds a
// message by its link.
class FeedMessage
{
public:
    QString title() const { return _title; }
    QString link() const { return _link; }
    QString description() const { return _description; }
    QString summary() const { return _summary; }
    QString baseUrl() const { return _baseUrl; }
    QDateTime publishedDate() const { return _publishedDate; }
    QDateTime downloadedTime() const { return _downloadedTime; }
    bool isFavorite() const { return _favorite; }
    QList<FeedEnclosure> enclosures() const { return _enclosures; }

    void setTitle(const QString& title) { _title = title; }
    void setLink(const QString& link) { _link = link; }
    void setDescription(const QString& description) { _description = description; }
    void setSummary(const QString& summary) { _summary = summary; }
    void setBaseUrl(const QString& baseUrl) { _baseUrl = baseUrl; }
    void setPublishedDate(const QDateTime& date) { _publishedDate = date; }
    void setDownloadedTime(const QDateTime& time) { _downloadedTime = time; }
    void setFavorite(bool favorite) { _favorite = favorite; }
    void setEnclosures(QList<FeedEnclosure> enclosures) { _enclosures = enclosures; }
    void addEnclosure(const QList<FeedEnclosure>& enclosures) { _enclosures += enclosures; }

private:
    QString _title;
    QString _link;
    QString _description;
    QString _summary;
    QString _baseUrl;
    QDateTime _publishedDate;
    QDateTime _downloadedTime;
    bool _favorite = false;
    QList<FeedEnclosure> _enclosures;

    friend QDataStream& operator<<(QDataStream& stream, const FeedMessage& message);
    friend QDataStream& operator>>(QDataStream& stream, FeedMessage& message);
};

QDataStream& operator<<(QDataStream& stream, const FeedMessage& message);
QDataStream& operator>>(QDataStream& stream, FeedMessage& message);
QDebug operator<<(QDebug debug, const FeedMessage& message);

Q_DECLARE_METATYPE(FeedMessage)

#endif
