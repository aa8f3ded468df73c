#ifndef FEEDXMLCONVERTER_H
#define FEEDXMLCONVERTER_H

#include <feedchannel.h>

#include <QString>
#include <QUrl>

class QXmlStreamReader;

// Reads the common XML form of one channel (what the feed queries produce) into a
// FeedChannel. The form:
//
//   <channel>
//     <title/> <link/> <description/> <image/>   (image: URL of the channel icon)
//     <base/>*                                  (xml:base in effect, outermost first)
//     <item>*
//       <title/> <link/>* <guid permalink="true|false"/> <description/>* <summary/>
//       <pubDate/>* <base/>* <enclosure/>* <enclosuregroup/>* <originalenclosurelink/>
//     </item>
//   </channel>
//
// Elements that came from an extension namespace carry "sourcenamespaceuri", as the
// namespace plug-ins make them: a <link> of the feed-proxy extension (the item's link at its
// source) wins over the plain one; a <description> of the content module wins over the plain
// one, which then serves as summary; the first <pubDate> that parses wins. <enclosure> has
// the attributes url, type, size and isDefault; the enclosures of the n-th <enclosuregroup>
// of an item get group id n; an empty attribute counts as absent. A <guid> is the link of last
// resort unless permalink is "false" or it is not an absolute URL. A <description> or <summary> is HTML; with type="text"
// it is plain text (escaped on reading) and with type="xhtml" it holds markup as elements.
// A <title> is plain text; with type="html" its markup is taken out.
class FeedXmlConverter
{
public:
    FeedXmlConverter() = default;

    // The URL the feed was read from: the base of its links where no xml:base says otherwise,
    // and of a relative xml:base. Set it before setSourceFeed().
    void setDocumentUrl(const QString& url) { _documentUrl = QUrl(url); }
    void setSourceFeed(const QString& commonForm);
    FeedChannel channel() const { return _channel; }
    // False when the text was not the common form; channel() is then empty.
    bool isValid() const { return _errorString.isEmpty(); }
    QString errorString() const { return _errorString; }

private:
    void readChannel(QXmlStreamReader& reader);
    FeedMessage readItem(QXmlStreamReader& reader);

    QUrl baseOf(const QStringList& bases) const;

    QUrl _documentUrl;
    FeedChannel _channel;
    QString _errorString = QStringLiteral("No source feed");
};

#endif
