#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <string>

namespace Veltora::UpdateManager
{

// Limits on a JSON document read into a property tree. The tree costs a few hundred bytes
// per value and the reader recurses once per level of nesting, so without them a small
// hostile document could take gigabytes of memory or the whole stack. Real documents (a
// release description, a scanner definition) are a few kilobytes, with a few hundred
// values, nested five levels.
struct JsonBounds
{
    std::size_t maxBytes = 1024 * 1024;
    int maxDepth = 256;
    // Arrays, objects and scalars together (every node the tree would hold).
    std::size_t maxValues = 20000;
};

// Reads `text` into `out` after checking it against `bounds` in one pass over the text,
// before any of the tree is built. A document outside the bounds, or one that is not
// valid JSON, throws boost::property_tree::json_parser_error naming `source` (for example
// a file name; may be empty), the line and the reason, such as "nesting deeper than 256
// levels"; `out` is then left as it was.
void readBoundedJson(const std::string& text, boost::property_tree::ptree& out,
                     const std::string& source = {}, const JsonBounds& bounds = {});

} // namespace Veltora::UpdateManager
