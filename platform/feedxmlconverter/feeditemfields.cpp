#include "feeditemfields.h"

#include "feeddate.h"

namespace {

// Duplicates and enclosures without a URL are dropped.
void addUnique(QList<FeedEnclosure>& enclosures, const FeedEnclosure& enclosure)
{
    if (!enclosure.remoteUrl().isEmpty() && !enclosures.contains(enclosure))
        enclosures.append(enclosure);
}

} // namespace

void FeedItemFields::clear()
{
    *this = FeedItemFields();
}

void FeedItemFields::add(Text kind, const QString& text)
{
    if (_texts[kind].isEmpty())
        _texts[kind] = text;
}

void FeedItemFields::addDate(DateRank rank, const QString& text)
{
    if (_published.isValid() && _dateRank <= rank)
        return;
    const QDateTime date = FeedDate::parse(text);
    if (!date.isValid())
        return;
    _published = date;
    _dateRank = rank;
}

void FeedItemFields::addEnclosure(const FeedEnclosure& enclosure, bool extension)
{
    addUnique(extension ? _extensionEnclosures : _enclosures, enclosure);
}

QList<FeedEnclosure> FeedItemFields::enclosures() const
{
    QList<FeedEnclosure> enclosures = _enclosures;
    for (const FeedEnclosure& enclosure : _extensionEnclosures)
        addUnique(enclosures, enclosure);
    return enclosures;
}

QString FeedItemFields::firstOf(std::initializer_list<Text> kinds) const
{
    for (Text kind : kinds) {
        if (!_texts[kind].isEmpty())
            return _texts[kind];
    }
    return QString();
}

QString FeedItemFields::title() const
{
    return firstOf({Title, DcTitle, MediaTitle});
}

// The link at the item's source, where a feed proxy gives it, wins over the proxy's own.
QString FeedItemFields::link() const
{
    return firstOf({SourceLink, Link});
}

// Full content wins; the shorter text then serves as summary. Content that is no text (an
// image in base64) leaves the summary to stand in.
QString FeedItemFields::description() const
{
    return firstOf({Content, Description, DcDescription, Summary});
}

QString FeedItemFields::summary() const
{
    if (!_texts[Summary].isEmpty())
        return _texts[Summary];
    return _texts[Content].isEmpty() ? QString() : firstOf({Description, DcDescription});
}
