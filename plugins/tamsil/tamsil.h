#ifndef TAMSIL_H
#define TAMSIL_H

#include "feeddownloadmanager.h"
#include "feedenclosurefile.h"
#include "feedplugininterface.h"

#include <feedchannel.h>
#include <feedenclosure.h>

#include <QBuffer>
#include <QByteArray>
#include <QNetworkReply>
#include <QUrl>
#include <QXmlQuery>

#include <map>
#include <memory>

class FeedXmlConverter;

// The fetching plug-in: downloads feeds and turns them into channels through the XQuery
// files, and downloads enclosures with pause and resume. Every request ends with exactly one
// Finished or Failed signal.
class Tamsil : public FeedPluginInterface
{
    Q_OBJECT

public:
    // Feed bodies are held whole in memory; larger ones fail.
    static constexpr qint64 DefaultMaximumFeedSize = 64 * 1024 * 1024;
    // A transfer that receives nothing this long fails with 401: well before the daemon would
    // take the plug-in for hung (30000 ms) and restart it.
    static constexpr int DefaultStallTimeout = 20000;
    // A feed, or an image a refresh queued, that has not come whole in this long fails with 401,
    // however it trickles.
    static constexpr int DefaultFeedTimeout = 120000;
    // An image a refresh queued that grows larger fails with 499.
    static constexpr qint64 DefaultMaximumImageSize = 16 * 1024 * 1024;
    // No download writes on once less than this would stay free on its disk; it fails with 407.
    static constexpr qint64 DefaultMinimumFreeSpace = 64 * 1024 * 1024;

    Tamsil();

public slots:
    void downloadFeeds(const FeedChannel& channel) override;
    void downloadEnclosure(const FeedEnclosure& enclosure) override;
    void cancelDownload() override;
    void pauseDownloadEnclosure() override;
    void resumeDownloadEnclosure(const FeedEnclosure& enclosure) override;
    FeedChannel channel() override;

private slots:
    void downloadFinished(QNetworkReply* reply);
    void handleEnclosureDownloadPaused();

private:
    enum State { Idle = 0, FeedDownload = 1, EnclosureDownload = 2 };

    void startEnclosure(const FeedEnclosure& enclosure, bool resume);
    void handleFeedReply(QNetworkReply* reply);
    void handleEnclosureReply(QNetworkReply* reply);
    void discardEnclosureFile(QNetworkReply* reply, int errorCode);
    int checkHttpStatus(QNetworkReply* reply);
    int feedErrorCode(QNetworkReply::NetworkError error);
    void updateLastModifiedTime(QNetworkReply* reply);
    QString queryFileName(const QString& contentType);
    bool convertFeed(const QString& queryFile);
    bool convertToChannel(const FeedXmlConverter& converter);
    QXmlQuery* preparedQuery(const QString& queryFile);
    QXmlQuery* compiledQuery(const QString& path);

    int _state = Idle;
    FeedDownloadManager _downloadManager;
    QByteArray _feedData;
    QBuffer _feedBuffer;
    FeedEnclosureFile _enclosureFile;
    FeedChannel _channel;
    FeedChannel _requestChannel;
    // Where the feed came from after redirects: the base of its relative links.
    QUrl _feedUrl;
    qint64 _maximumFeedSize;
    int _feedTimeout;
    qint64 _maximumImageSize;
    // Compiled once per query file; each feed is bound to the same input device anew.
    QBuffer _queryInput;
    // Never copied: a copy of a query keeps reading the first feed bound to it.
    std::map<QString, std::unique_ptr<QXmlQuery>> _queries;

    friend class TamsilConversion;
};

#endif
