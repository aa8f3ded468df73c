(: Atom 1.0 (root <feed>) to the common form of one channel. :)
declare namespace atom = "http://www.w3.org/2005/Atom";
declare namespace xhtml = "http://www.w3.org/1999/xhtml";
declare variable $inputDocument external;

(: The same elements the namespace plug-ins make of Media RSS, Dublin Core, the content
   module and the feed-proxy extension, in one pass over an element's children. Namespaces
   are compared one by one: comparing with a global sequence leaks memory in Qt's engine. :)
declare function local:media($parent as element(), $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and (namespace-uri() eq "http://search.yahoo.com/mrss/"
                                         or namespace-uri() eq "http://search.yahoo.com/mrss")]
};

declare function local:mediaContent($content as element()) as element()
{
    <enclosure url="{ $content/@url }" type="{ $content/@type }" size="{ $content/@fileSize }"
               isDefault="{ $content/@isDefault }" sourcenamespaceuri="http://search.yahoo.com/mrss/">{
        for $thumbnail in local:media($content, "thumbnail")
        return <enclosurethumbnail url="{ $thumbnail/@url }"/>
    }</enclosure>
};

declare function local:extensions($item as element()) as element()*
{
    for $child in $item/*[namespace-uri() ne ""]
    let $namespace := namespace-uri($child)
    let $name := local-name($child)
    return
        if ($namespace eq "http://search.yahoo.com/mrss/" or $namespace eq "http://search.yahoo.com/mrss") then
            if ($name eq "content") then local:mediaContent($child)
            else if ($name eq "group") then
                <enclosuregroup>{ for $content in local:media($child, "content") return local:mediaContent($content) }</enclosuregroup>
            else ()
        else if ($namespace eq "http://purl.org/dc/elements/1.1/") then
            if ($name eq "date") then
                <pubDate sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($child) }</pubDate>
            else if ($name eq "description") then
                <description sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($child) }</description>
            else ()
        else if ($namespace eq "http://purl.org/rss/1.0/modules/content/") then
            if ($name eq "encoded") then
                <description sourcenamespaceuri="http://purl.org/rss/1.0/modules/content/">{ string($child) }</description>
            else ()
        else if ($namespace eq "http://rssnamespace.org/feedburner/ext/1.0") then
            if ($name eq "origLink") then
                <link sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($child) }</link>
            else if ($name eq "origEnclosureLink") then
                <originalenclosurelink sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($child) }</originalenclosurelink>
            else ()
        else ()
};

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

(: Markup of xhtml content, rebuilt without its namespace. Writing out a tree takes stack in
   proportion to its depth, so markup nested deeper than any page needs is kept as its text. :)
declare function local:markup($node as node(), $depth as xs:integer) as node()*
{
    typeswitch ($node)
        case element() return
            if ($depth ge 256) then text { string($node) }
            else element { local-name($node) } {
                for $attribute in $node/@* return attribute { local-name($attribute) } { string($attribute) },
                for $child in $node/node() return local:markup($child, $depth + 1)
            }
        case text() return text { string($node) }
        default return ()
};

(: What an Atom text construct holds: plain text unless its type says html or xhtml. :)
declare function local:kind($construct as element()) as xs:string
{
    let $type := string($construct/@type)
    return
        if ($type eq "xhtml" or $type eq "application/xhtml+xml") then "xhtml"
        else if ($type eq "html" or $type eq "text/html") then "html"
        else "text"
};

(: The kind travels along, so plain text is shown as text and never read as markup. :)
declare function local:text($name as xs:string, $construct as element()) as element()
{
    let $kind := local:kind($construct)
    return
        if ($kind eq "xhtml") then
            element { $name } {
                attribute type { "xhtml" },
                for $node in (if ($construct/xhtml:div) then $construct/xhtml:div[1]/node() else $construct/node())
                return local:markup($node, 0)
            }
        else
            element { $name } { attribute type { $kind }, string($construct) }
};

(: Titles are plain text: only an html title needs its markup taken out. :)
declare function local:title($construct as element()) as element()
{
    if (local:kind($construct) eq "html") then <title type="html">{ string($construct) }</title>
    else <title>{ string($construct) }</title>
};

declare function local:alternate($parent as element()) as element()*
{
    for $link in ($parent/atom:link[not(@rel) or @rel eq "alternate"])[1]
    return <link>{ string($link/@href) }</link>
};

for $feed in doc($inputDocument)/atom:feed
return
<channel>{
    for $title in $feed/atom:title[1] return local:title($title),
    local:alternate($feed),
    for $subtitle in $feed/atom:subtitle[1] return local:text("description", $subtitle),
    for $icon in ($feed/atom:icon, $feed/atom:logo)[1] return <image>{ string($icon) }</image>,
    local:bases($feed),
    for $entry in $feed/atom:entry
    return
    <item>{
        for $title in $entry/atom:title[1] return local:title($title),
        local:alternate($entry),
        for $text in ($entry/atom:content[not(@src)], $entry/atom:summary)[1] return local:text("description", $text),
        for $summary in $entry/atom:summary[1] return local:text("summary", $summary),
        for $date in ($entry/atom:published[1], $entry/atom:updated[1]) return <pubDate>{ string($date) }</pubDate>,
        local:bases($entry),
        for $enclosure in $entry/atom:link[@rel eq "enclosure"]
        return <enclosure url="{ $enclosure/@href }" type="{ $enclosure/@type }" size="{ $enclosure/@length }"/>,
        local:extensions($entry)
    }</item>
}</channel>
