#ifndef FEEDFORMATTER_H
#define FEEDFORMATTER_H

#include "feedenclosure.h"
#include "feedmessage.h"

#include <QList>
#include <QMap>
#include <QUrl>

class QRegularExpression;

// Rewrites the messages of a freshly fetched channel before they are compared with the
// stored ones: descriptions are untrusted HTML, made safe to store and show (scripts,
// styles, event handlers and script targets go, every word of the text stays), their
// images made local, their links absolute and their image sizes unit-less.
// Built on the stack for one list of messages.
class FeedFormatter
{
public:
    FeedFormatter();
    ~FeedFormatter();

    QList<FeedMessage> formatMessages(const QList<FeedMessage>& messages);
    FeedMessage formatMessage(const FeedMessage& message);

    void removeScriptsAndStyles(FeedMessage& message);
    void localizeOptionalEnclosures(FeedMessage& message);
    void localizeImages(FeedMessage& message);
    void resolveRelativeHyperlinks(FeedMessage& message);
    void formatImageDimensions(FeedMessage& message);

    bool parseEmbeddedData(const QString& value, FeedEnclosure& enclosure);
    // Strips "px" from the named attribute of the image tag at tagStart when its value ends
    // in it; returns the position of the value, or -1 when nothing was stripped.
    int stripPxFromAttributes(QString& text, const QString& attribute, int tagStart);

private:
    QString localizeRemoteImage(const QString& source, const QString& baseUrl,
                                QList<FeedEnclosure>& newImages, QStringList& enclosed);

    // Image URL to the enclosure made for it, for the messages of one list.
    QMap<QUrl, FeedEnclosure> _imageCache;
};

#endif
