#ifndef FEEDTUIMANAGER_H
#define FEEDTUIMANAGER_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class FeedEnclosure;

// The transfer list: one entry per refresh (keyed by channel URI) or download (keyed by
// enclosure URI), kept in memory while the library is in use.
class FeedTUIManager
{
public:
    // Field codes of transferDetails.
    enum Field {
        Name = 1,
        Status = 2,
        Kind = 4,
        TotalBytes = 7,
        ReceivedBytes = 8,
        SecondsRemaining = 9,
        ErrorCode = 10,
        LocalFile = 11
    };

    static FeedTUIManager* instance();
    static void releaseInstance();

    void queueRefresh(const QString& channelUri);
    // A zero error code ends the refresh as done, any other as failed.
    void endRefresh(const QString& channelUri, int errorCode);
    void queueDownload(const QString& channelUri, const FeedEnclosure& enclosure);
    void startDownload(const QString& channelUri, const FeedEnclosure& enclosure);
    void updateDownload(const QString& enclosureUri, qlonglong total, qlonglong received, qlonglong remaining);
    void endDownload(const FeedEnclosure& enclosure, int errorCode);
    // Drops the refreshes and downloads of the channels.
    void removeChannels(const QStringList& channelUris);

    int activeDownloads() const;
    // The known fields of the entry; an empty map for an unknown id.
    QVariantMap details(const QString& transferId, const QStringList& fields) const;

private:
    Q_DISABLE_COPY(FeedTUIManager)

    enum class State { Queued, Active, Done, Failed };

    struct Transfer {
        QString channelUri;
        QString name;
        bool download = false;
        State state = State::Queued;
        qlonglong total = 0;
        qlonglong received = 0;
        qlonglong remaining = 0;
        int errorCode = 0;
        QString localFile;
    };

    FeedTUIManager() = default;

    Transfer* download(const QString& channelUri, const FeedEnclosure& enclosure);
    static QVariant field(const Transfer& transfer, const QString& code);

    static FeedTUIManager* _single;

    QHash<QString, Transfer> _transfers;
};

#endif
