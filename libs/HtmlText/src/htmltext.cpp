#include "htmltext.h"

#include "htmlcommentreader.h"
#include "htmlendtagfinder.h"
#include "htmlentities.h"
#include "htmltag.h"

namespace {

// The end of the element whose start tag is given when its content is no markup (script,
// style), or -1 when the tag opens no such element or it is never closed.
int rawElementEnd(const HtmlTag& tag, HtmlEndTagFinder& scriptEnds, HtmlEndTagFinder& styleEnds, const QString& html)
{
    if (tag.isEndTag() || tag.isSelfClosing())
        return -1;
    HtmlEndTagFinder* ends = tag.nameIs(QLatin1String("script")) ? &scriptEnds
                             : tag.nameIs(QLatin1String("style")) ? &styleEnds
                                                                   : nullptr;
    const int close = ends ? ends->from(tag.end()) : -1;
    if (close < 0)
        return -1;
    const HtmlTag endTag(html, close);
    return endTag.isTerminated() ? endTag.end() : -1;
}

// Tags that a page shows as a line break or a block edge: the words on either side stay apart.
bool breaksText(const HtmlTag& tag)
{
    static const char* const names[] = {"br", "p", "div", "li", "tr", "td", "th", "hr", "h1", "h2", "h3",
                                        "h4", "h5", "h6", "ul", "ol", "dl", "dt", "dd", "table", "blockquote",
                                        "pre", "section", "article", "header", "footer", "address", "figure"};
    for (const char* name : names) {
        if (tag.nameIs(QLatin1String(name)))
            return true;
    }
    return false;
}

} // namespace

QString HtmlText::toPlainText(const QString& html)
{
    HtmlCommentReader comments(html);
    HtmlEndTagFinder scriptEnds(html, QLatin1String("script"));
    HtmlEndTagFinder styleEnds(html, QLatin1String("style"));
    QString text;
    int copied = 0;
    int position = html.indexOf(QLatin1Char('<'));
    while (position >= 0) {
        int end = -1;
        bool separator = false;
        if (HtmlTag::startsAt(html, position)) {
            const HtmlTag tag(html, position);
            if (!tag.isTerminated())
                break;
            const int elementEnd = rawElementEnd(tag, scriptEnds, styleEnds, html);
            end = elementEnd >= 0 ? elementEnd : tag.end();
            separator = breaksText(tag);
        } else if (HtmlCommentReader::startsAt(html, position)) {
            end = comments.end(position);
        }
        if (end >= 0) {
            text += HtmlEntities::decode(html.midRef(copied, position - copied), HtmlEntities::Text);
            if (separator)
                text += QLatin1Char(' ');
            copied = end;
        }
        position = html.indexOf(QLatin1Char('<'), end >= 0 ? end : position + 1);
    }
    text += HtmlEntities::decode(html.midRef(copied), HtmlEntities::Text);
    return text.simplified();
}
