#ifndef FEEDITEMFIELDS_H
#define FEEDITEMFIELDS_H

#include <feedenclosure.h>

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

// The candidates for one message's fields, gathered in the order a feed lists them, and the
// rules that choose among them: which title, link, text and date a message gets.
class FeedItemFields
{
public:
    enum Text {
        Title, DcTitle, MediaTitle, Link, SourceLink, Guid, Description, DcDescription, Content,
        Summary, OriginalEnclosureLink, TextCount
    };
    // Dates by precedence: the feed's own, Dublin Core's, then the DC terms.
    enum DateRank { OwnDate, DcDate, IssuedDate, CreatedDate, ModifiedDate };

    void clear();
    // The first non-empty text of a kind is kept.
    void add(Text kind, const QString& text);
    // The first date that parses is kept, unless one of a better rank comes.
    void addDate(DateRank rank, const QString& text);
    void addBase(const QString& base) { _bases.append(base); }
    // Enclosures of the item's own format come before those of extensions.
    void addEnclosure(const FeedEnclosure& enclosure, bool extension);
    unsigned int startGroup() { return ++_groups; }

    QString title() const;
    QString link() const;
    QString guid() const { return _texts[Guid]; }
    QString description() const;
    QString summary() const;
    QString originalEnclosureLink() const { return _texts[OriginalEnclosureLink]; }
    QDateTime published() const { return _published; }
    QStringList bases() const { return _bases; }
    QList<FeedEnclosure> enclosures() const;

private:
    QString firstOf(std::initializer_list<Text> kinds) const;

    std::array<QString, TextCount> _texts;
    QDateTime _published;
    int _dateRank = 0;
    QStringList _bases;
    QList<FeedEnclosure> _enclosures;
    QList<FeedEnclosure> _extensionEnclosures;
    unsigned int _groups = 0;
};

#endif
