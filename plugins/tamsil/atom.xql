(: Atom 1.0 (root <feed>) to the common form of one channel. :)
declare namespace atom = "http://www.w3.org/2005/Atom";
declare namespace xhtml = "http://www.w3.org/1999/xhtml";
declare namespace dc = "http://purl.org/dc/elements/1.1/";
declare namespace content = "http://purl.org/rss/1.0/modules/content/";
declare namespace feedburner = "http://rssnamespace.org/feedburner/ext/1.0";

declare variable $inputDocument external;
declare variable $mediaNamespaces := ("http://search.yahoo.com/mrss/", "http://search.yahoo.com/mrss");

(: The same elements the namespace plug-ins make of Media RSS, Dublin Core, the content
   module and the feed-proxy extension. :)
declare function local:media($parent as element(), $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and namespace-uri() = $mediaNamespaces]
};

declare function local:mediaContent($content as element()) as element()
{
    <enclosure sourcenamespaceuri="http://search.yahoo.com/mrss/">{
        for $value in $content/@url return attribute url { $value },
        for $value in $content/@type return attribute type { $value },
        for $value in $content/@fileSize return attribute size { $value },
        for $value in $content/@isDefault return attribute isDefault { $value },
        for $thumbnail in local:media($content, "thumbnail")
        return <enclosurethumbnail>{ for $value in $thumbnail/@url return attribute url { $value } }</enclosurethumbnail>
    }</enclosure>
};

declare function local:extensions($item as element()) as element()*
{
    for $date in $item/dc:date
    return <pubDate sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($date) }</pubDate>,
    for $encoded in $item/content:encoded
    return <description sourcenamespaceuri="http://purl.org/rss/1.0/modules/content/">{ string($encoded) }</description>,
    for $description in $item/dc:description
    return <description sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($description) }</description>,
    for $link in $item/feedburner:origLink
    return <link sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($link) }</link>,
    for $link in $item/feedburner:origEnclosureLink
    return <originalenclosurelink sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($link) }</originalenclosurelink>,
    for $content in local:media($item, "content")
    return local:mediaContent($content),
    for $group in local:media($item, "group")
    return <enclosuregroup>{ for $content in local:media($group, "content") return local:mediaContent($content) }</enclosuregroup>
};

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

(: Markup of xhtml content, rebuilt without its namespace. :)
declare function local:markup($node as node()) as node()*
{
    typeswitch ($node)
        case element() return
            element { local-name($node) } {
                for $attribute in $node/@* return attribute { local-name($attribute) } { string($attribute) },
                for $child in $node/node() return local:markup($child)
            }
        case text() return text { string($node) }
        default return ()
};

declare function local:text($name as xs:string, $construct as element()) as element()
{
    if ($construct/@type eq "xhtml") then
        element { $name } {
            attribute type { "xhtml" },
            for $node in (if ($construct/xhtml:div) then $construct/xhtml:div[1]/node() else $construct/node())
            return local:markup($node)
        }
    else
        element { $name } { string($construct) }
};

declare function local:alternate($parent as element()) as element()*
{
    for $link in ($parent/atom:link[not(@rel) or @rel eq "alternate"])[1]
    return <link>{ string($link/@href) }</link>
};

for $feed in doc($inputDocument)/atom:feed
return
<channel>{
    <title>{ string($feed/atom:title[1]) }</title>,
    local:alternate($feed),
    <description>{ string($feed/atom:subtitle[1]) }</description>,
    for $icon in ($feed/atom:icon, $feed/atom:logo)[1] return <image>{ string($icon) }</image>,
    local:bases($feed),
    for $entry in $feed/atom:entry
    return
    <item>{
        for $title in $entry/atom:title[1] return <title>{ string($title) }</title>,
        local:alternate($entry),
        for $id in $entry/atom:id[1] return <guid permalink="false">{ string($id) }</guid>,
        for $text in ($entry/atom:content, $entry/atom:summary)[1] return local:text("description", $text),
        for $summary in $entry/atom:summary[1] return local:text("summary", $summary),
        for $date in ($entry/atom:published[1], $entry/atom:updated[1]) return <pubDate>{ string($date) }</pubDate>,
        local:bases($entry),
        for $enclosure in $entry/atom:link[@rel eq "enclosure"]
        return <enclosure>{
            for $value in $enclosure/@href return attribute url { $value },
            for $value in $enclosure/@type return attribute type { $value },
            for $value in $enclosure/@length return attribute size { $value }
        }</enclosure>,
        local:extensions($entry)
    }</item>
}</channel>
