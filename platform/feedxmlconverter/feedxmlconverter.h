#ifndef FEEDXMLCONVERTER_H
#define FEEDXMLCONVERTER_H

#include "feeditemfields.h"

#include <feedchannel.h>

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

// One attribute of a common-form element as the converter is told it.
struct FeedXmlAttribute
{
    QString namespaceUri;
    QString prefix;
    QString name;
    QString value;
};
using FeedXmlAttributes = QVector<FeedXmlAttribute>;

// Reads the common XML form of one channel (what the feed queries produce) into a
// FeedChannel. The form reaches it either as text (setSourceFeed) or as the events of a
// query's output (FeedXmlReceiver); both go through the same rules. The form:
//
//   <channel>
//     <title/> <link/> <description/> <image/>   (image: URL of the channel icon)
//     <base/>*                                  (xml:base in effect, outermost first; before the items)
//     <item xml:base?>*
//       <title/> <link/>* <guid isPermaLink="true|false"/> <description/>* <summary/>
//       <pubDate/>* <base/>* <enclosure/>* <enclosuregroup/>* <originalenclosurelink/>
//       extension elements as feeds write them (see below)
//     </item>
//   </channel>
//
// The first non-empty <title>, <link>, <guid>, <description> and the first <pubDate> that
// parses win; without a description the summary stands in. An item's base levels (its xml:base,
// then its <base> elements) continue the channel's. <enclosure> has the attributes url, type,
// length (or size) and isDefault; the enclosures of the n-th group of an item get group id n;
// an empty attribute counts as absent. A <guid> is the link of last resort unless isPermaLink
// is "false" or it is not an absolute URL. A <description> or <summary> is HTML; with
// type="text" it is plain text (escaped on reading) and with type="xhtml" it holds markup as
// elements. A <title> is plain text; with type="html" its markup is taken out. With
// encoding="base64" a text is decoded first; one that does not decode to UTF-8 text is empty.
//
// Extension elements, in their own namespaces or as the namespace plug-ins make them (with
// "sourcenamespaceuri"): Media RSS content and group give enclosures (after the item's own)
// and its title stands in for a missing title; the content module's encoded text wins over
// the description, which then serves as summary; Dublin Core's title stands in for a missing
// title (also the channel's), its description for a missing description, its date for a
// missing or unreadable pubDate, and then the DC terms issued, created and modified, in this
// order; the feed-proxy extension's link (the item's link at its source) wins over the plain
// one and its enclosure link replaces the first enclosure's URL.
class FeedXmlConverter
{
public:
    FeedXmlConverter() = default;

    // The URL the feed was read from: the base of its links where no xml:base says otherwise,
    // and of a relative xml:base. Set it before the form arrives.
    void setDocumentUrl(const QString& url) { _documentUrl = QUrl(url); }
    void setSourceFeed(const QString& commonForm);
    FeedChannel channel() const { return _channel; }
    // False when the form was not the common form of one channel; channel() is then empty.
    bool isValid() const { return _errorString.isEmpty(); }
    QString errorString() const { return _errorString; }

private:
    // Where the text of an element goes once it has been read whole.
    enum class Target {
        ChannelTitle, ChannelDcTitle, ChannelLink, ChannelDescription, ChannelImage, ChannelBase,
        ItemText, ItemDate, ItemBase
    };
    // How that text is read: a title, a description (HTML, plain text or markup), trimmed, as is.
    enum class Reading { Title, Rich, Trimmed, Raw };

    // The element whose text is being read.
    struct Capture
    {
        Target target = Target::ItemText;
        FeedItemFields::Text kind = FeedItemFields::Title;
        FeedItemFields::DateRank rank = FeedItemFields::OwnDate;
        Reading reading = Reading::Raw;
        int depth = 0;
        QString type;
        bool base64 = false;
        bool markup = false;
        bool openTag = false; // markup: a start tag still waits for its '>'
        QStringList open;     // markup: the names of the open elements
        QString text;
    };

    // The rules, fed by either entry.
    void begin();
    void startElement(const QString& namespaceUri, const QString& name, const FeedXmlAttributes& attributes);
    void characters(const QStringRef& text);
    // Inside an element that is passed over, or after a failure: nothing more is read.
    bool isSkipping() const { return _failed || _skipTo > 0; }
    void endElement();
    void fail(const QString& error);

    void startChannel(const QString& namespaceUri, const QString& name);
    void startChannelChild(const QString& namespaceUri, const QString& name, const FeedXmlAttributes& attributes);
    void startItem(const FeedXmlAttributes& attributes);
    void startItemChild(const QString& namespaceUri, const QString& name, const FeedXmlAttributes& attributes);
    void startExtension(const QString& namespaceUri, const QString& name, const FeedXmlAttributes& attributes);
    void startGroupChild(const QString& namespaceUri, const QString& name, const FeedXmlAttributes& attributes);
    void capture(Target target, Reading reading, const FeedXmlAttributes& attributes);
    void captureText(FeedItemFields::Text kind, Reading reading, const FeedXmlAttributes& attributes);
    void captureDate(FeedItemFields::DateRank rank, const FeedXmlAttributes& attributes);
    void skip();
    void markupStart(const QString& name, const FeedXmlAttributes& attributes);
    void markupEnd();
    QString capturedText() const;
    void finishCapture();
    void finishItem();
    void finishChannel();

    QUrl baseOf(const QStringList& bases) const;

    QUrl _documentUrl;
    FeedChannel _channel;
    QString _errorString = QStringLiteral("No source feed");

    bool _failed = false;
    int _depth = 0;
    int _skipTo = 0; // inside an element that is passed over: the depth where it ends
    bool _channelDone = false;
    bool _inItem = false;
    int _groupDepth = 0;
    unsigned int _group = 0;
    bool _capturing = false;
    Capture _capture;
    QStringList _channelBases;
    QString _channelTitle;
    QString _channelDcTitle;
    QString _channelLink;
    QString _channelDescription;
    QString _channelImage;
    QList<FeedMessage> _messages;
    FeedItemFields _item;

    friend class FeedXmlReceiver;
};

#endif
