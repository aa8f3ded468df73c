(: RSS 0.9x and 2.0 (root <rss>) to the common form of one channel. :)
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

for $channel in doc($inputDocument)/rss/channel[1]
return
<channel>{
    <title>{ string($channel/title[1]) }</title>,
    <link>{ string($channel/link[1]) }</link>,
    <description>{ string($channel/description[1]) }</description>,
    for $url in $channel/image/url[1] return <image>{ string($url) }</image>,
    local:bases($channel),
    for $item in $channel/item
    return
    <item>{
        for $title in $item/title[1] return <title>{ string($title) }</title>,
        for $link in $item/link[1] return <link>{ string($link) }</link>,
        for $guid in $item/guid[1]
        return <guid permalink="{ if (lower-case(normalize-space($guid/@isPermaLink)) eq 'false') then 'false' else 'true' }">{ string($guid) }</guid>,
        for $description in $item/description[1] return <description>{ string($description) }</description>,
        for $date in $item/pubDate[1] return <pubDate>{ string($date) }</pubDate>,
        local:bases($item),
        for $enclosure in $item/enclosure
        return <enclosure>{
            for $value in $enclosure/@url return attribute url { $value },
            for $value in $enclosure/@type return attribute type { $value },
            for $value in $enclosure/@length return attribute size { $value }
        }</enclosure>,
        local:extensions($item)
    }</item>
}</channel>
