#include "UpdateManager/core/BoundedJson.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace Veltora::UpdateManager
{
namespace
{
using boost::property_tree::json_parser::json_parser_error;

// Walks the text once, outside strings counting the containers that open and the commas
// that separate values: every value of the tree but the first of its container follows a
// comma, and that first one follows the bracket that opened it.
class BoundsCheck
{
public:
    BoundsCheck(const JsonBounds& limits, const std::string& name) : bounds(limits), source(name) {}

    void run(const std::string& text)
    {
        if (text.size() > bounds.maxBytes)
            fail("document larger than " + std::to_string(bounds.maxBytes) + " bytes");
        for (const char character : text)
            step(character);
    }

private:
    void step(char character)
    {
        if (character == '\n')
            ++line;
        if (inString)
            stepInString(character);
        else if (character == '"')
            inString = true;
        else if (character == '[' || character == '{')
            open();
        else if (character == ']' || character == '}')
            --depth;
        else if (character == ',')
            countValue();
    }

    void stepInString(char character)
    {
        if (escaped)
            escaped = false;
        else if (character == '\\')
            escaped = true;
        else if (character == '"')
            inString = false;
    }

    void open()
    {
        if (++depth > bounds.maxDepth)
            fail("nesting deeper than " + std::to_string(bounds.maxDepth) + " levels");
        countValue();
    }

    void countValue()
    {
        if (++values > bounds.maxValues)
            fail("more than " + std::to_string(bounds.maxValues) + " values");
    }

    [[noreturn]] void fail(const std::string& reason) const
    {
        throw json_parser_error(reason, source, line);
    }

    const JsonBounds& bounds;
    const std::string& source;
    unsigned long line = 1;
    int depth = 0;
    std::size_t values = 1;
    bool inString = false;
    bool escaped = false;
};
} // namespace

void readBoundedJson(const std::string& text, boost::property_tree::ptree& out,
                     const std::string& source, const JsonBounds& bounds)
{
    BoundsCheck(bounds, source).run(text);
    std::istringstream stream(text);
    boost::property_tree::ptree tree;
    try
    {
        boost::property_tree::read_json(stream, tree);
    }
    catch (const json_parser_error& error)
    {
        throw json_parser_error(error.message(), source, error.line());
    }
    out.swap(tree);
}

} // namespace Veltora::UpdateManager
