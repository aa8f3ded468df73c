(: RSS 0.9x and 2.0 (root <rss>) to the common form of one channel. An RSS item already has
   the shape of the common form's item, so items pass whole, extension elements and all: the
   converter reads what it knows of them. Copying is far cheaper than building anew. :)
declare copy-namespaces no-preserve, inherit;
declare variable $inputDocument external;

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

for $channel in doc($inputDocument)/rss/channel[1]
return
<channel>{
    $channel/title[1],
    $channel/link[1],
    $channel/description[1],
    for $url in $channel/image/url[1] return <image>{ string($url) }</image>,
    local:bases($channel),
    $channel/item
}</channel>
