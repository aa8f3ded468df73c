#include "feeddownloadreply.h"

FeedDownloadReply::FeedDownloadReply(const QNetworkReply& source, QObject* parent)
    : QNetworkReply(parent)
{
    setUrl(source.url());
    setRequest(source.request());
    setOperation(source.operation());
    for (const QNetworkReply::RawHeaderPair& header : source.rawHeaderPairs())
        setRawHeader(header.first, header.second);
    const QNetworkRequest::Attribute attributes[] = {QNetworkRequest::HttpStatusCodeAttribute,
                                                     QNetworkRequest::HttpReasonPhraseAttribute,
                                                     QNetworkRequest::RedirectionTargetAttribute};
    for (QNetworkRequest::Attribute attribute : attributes)
        setAttribute(attribute, source.attribute(attribute));
    // Opening clears the error text, so it comes first.
    open(ReadOnly | Unbuffered);
    setError(source.error(), source.errorString());
    setFinished(true);
}

FeedDownloadReply::FeedDownloadReply(const QUrl& url, QObject* parent)
    : QNetworkReply(parent)
{
    setUrl(url);
    setOperation(QNetworkAccessManager::GetOperation);
    open(ReadOnly | Unbuffered);
    setFinished(true);
}

void FeedDownloadReply::setFailure(NetworkError error, const QString& text, bool limitExceeded)
{
    setError(error, text);
    _limitExceeded = limitExceeded;
}

void FeedDownloadReply::setTotalLength(qint64 length)
{
    setHeader(QNetworkRequest::ContentLengthHeader, length);
}

void FeedDownloadReply::setAlreadyComplete(qint64 length)
{
    setError(NoError, QString());
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, 206);
    setTotalLength(length);
}
