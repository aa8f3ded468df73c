(: RSS 0.90 and 1.0 (root <rdf:RDF>) to the common form of one channel. :)
declare namespace rdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
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

declare variable $rssNamespaces := ("http://purl.org/rss/1.0/", "http://my.netscape.com/rdf/simple/0.9/");

declare function local:rss($parent as element(), $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and namespace-uri() = $rssNamespaces]
};

for $rdf in doc($inputDocument)/rdf:RDF
let $channel := local:rss($rdf, "channel")[1]
return
<channel>{
    <title>{ string(local:rss($channel, "title")[1]) }</title>,
    <link>{ string(local:rss($channel, "link")[1]) }</link>,
    <description>{ string(local:rss($channel, "description")[1]) }</description>,
    for $image in local:rss($rdf, "image")[1]
    return <image>{ string(local:rss($image, "url")[1]) }</image>,
    local:bases($rdf),
    for $item in local:rss($rdf, "item")
    return
    <item>{
        for $title in local:rss($item, "title")[1] return <title>{ string($title) }</title>,
        for $link in local:rss($item, "link")[1] return <link>{ string($link) }</link>,
        for $about in $item/@rdf:about return <guid permalink="true">{ string($about) }</guid>,
        for $description in local:rss($item, "description")[1] return <description>{ string($description) }</description>,
        local:bases($item),
        local:extensions($item)
    }</item>
}</channel>
