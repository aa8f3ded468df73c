#ifndef FEEDFORMATTER_H
#define FEEDFORMATTER_H

#include "feedenclosure.h"
#include "feedmessage.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QUrl>

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
    // Strips every "px" from an image size value that ends in it (at position in the text);
    // returns whether it did.
    bool stripPxFromAttributes(QString& value, int position);

private:
    QString localizeEmbeddedImage(const QString& source, QList<FeedEnclosure>& newImages,
                                  QSet<QString>& enclosed);
    bool storeEmbeddedImage(const QByteArray& bytes, const QString& format, FeedEnclosure& enclosure);
    QString localizeRemoteImage(const QString& source, const QString& baseUrl,
                                QList<FeedEnclosure>& newImages, QSet<QString>& enclosed);

    void takeImageContentType(FeedEnclosure& enclosure);

    // Image URL to the enclosure made for it, for the messages of one list.
    QMap<QUrl, FeedEnclosure> _imageCache;
    // Embedded image (its data URL) to its enclosure, so that a repeated one is decoded once.
    QHash<QString, FeedEnclosure> _embeddedImages;
    // Lower-case file suffix to the image type and icon known for it, empty when none.
    QHash<QString, QPair<QString, QString>> _imageTypes;
};

#endif
