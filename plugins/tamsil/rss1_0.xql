(: RSS 0.90 and 1.0 (root <rdf:RDF>) to the common form of one channel. Items pass with their
   RSS elements taken out of the RSS namespace and extension elements as they are: the
   converter reads what it knows of them. :)
declare namespace rdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
declare namespace dc = "http://purl.org/dc/elements/1.1/";
declare variable $inputDocument external;

declare function local:isRss($element as element()) as xs:boolean
{
    namespace-uri($element) eq "http://purl.org/rss/1.0/"
    or namespace-uri($element) eq "http://my.netscape.com/rdf/simple/0.9/"
};

declare function local:rss($parent as element()?, $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and local:isRss(.)]
};

declare function local:plain($element as element()) as element()
{
    if (local:isRss($element)) then element { local-name($element) } { $element/@*, $element/node() }
    else $element
};

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

for $rdf in doc($inputDocument)/rdf:RDF
let $channel := local:rss($rdf, "channel")[1]
return
<channel>{
    <title>{ string(local:rss($channel, "title")[1]) }</title>,
    $channel/dc:title[1],
    <link>{ string(local:rss($channel, "link")[1]) }</link>,
    <description>{ string(local:rss($channel, "description")[1]) }</description>,
    for $image in local:rss($rdf, "image")[1]
    return <image>{ string(local:rss($image, "url")[1]) }</image>,
    local:bases($rdf),
    for $item in local:rss($rdf, "item")
    return
    <item>{
        $item/@xml:base,
        for $about in $item/@rdf:about return <guid isPermaLink="true">{ string($about) }</guid>,
        for $child in $item/*[namespace-uri() ne ""] return local:plain($child)
    }</item>
}</channel>
