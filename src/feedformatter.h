#ifndef FEEDFORMATTER_H
#define FEEDFORMATTER_H

#include "feedenclosure.h"
#include "feedmessage.h"
#include "htmltag.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QUrl>
#include <QVarLengthArray>

// Rewrites the messages of a freshly fetched channel before they are compared with the
// stored ones: descriptions are untrusted HTML, made safe to store and show (see
// FeedMarkupCleaner; every word of the text stays), their images made local, their links
// absolute and their image sizes unit-less. Every step takes time in proportion to the text.
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
    enum Rewrite { Images = 1, Links = 2, Dimensions = 4 };
    struct Edit
    {
        const HtmlTag::Attribute* attribute;
        QString value;
    };
    using Edits = QVarLengthArray<Edit, 3>;
    // What image localisation gathers over one description.
    struct ImageWork
    {
        QUrl base;
        QList<FeedEnclosure> newImages;
        QSet<QString> enclosed; // remote URLs of the enclosures the message holds
    };

    void rewriteTags(FeedMessage& message, int rewrites);
    void localizeImage(const HtmlTag& tag, ImageWork& images, Edits& edits);
    static void resolveLink(const HtmlTag& tag, const QUrl& base, Edits& edits);
    void stripDimensions(const HtmlTag& tag, Edits& edits);

    QString localizeEmbeddedImage(const QString& source, QList<FeedEnclosure>& newImages,
                                  QSet<QString>& enclosed);
    bool storeEmbeddedImage(const QByteArray& bytes, const QString& format, FeedEnclosure& enclosure);
    QString localizeRemoteImage(const QString& source, const QUrl& base,
                                QList<FeedEnclosure>& newImages, QSet<QString>& enclosed);

    void takeImageContentType(FeedEnclosure& enclosure);

    // Absolute image URL to the enclosure made for it, for the messages of one list. Keyed by
    // the text, which also names the local file.
    QHash<QString, FeedEnclosure> _imageCache;
    // Embedded image (its data URL) to its enclosure, so that a repeated one is decoded once.
    QHash<QString, FeedEnclosure> _embeddedImages;
};

#endif
