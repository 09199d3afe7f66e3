#include "platform/Platform.h"
#include "platform/QuotedText.h"

#include <process.h>

namespace Veltora::Platform
{
namespace
{
// The stored arguments are wrapped in double quotes because the C run time joins the
// vector into one command line with blanks between the arguments, and the child splits it
// again. Quotes alone only survive that for texts without a double quote and without a
// backslash before the closing quote ("C:\Folder\" would swallow its closing quote), so
// each text is unwrapped and written again in the form the run time's splitting reads back
// exactly: a backslash run is doubled before a double quote (and before the closing one),
// and a double quote is escaped. Ordinary texts come out exactly as stored.
std::string commandLineArgument(const std::string& stored)
{
    const std::string text = withoutOuterQuotes(stored);
    std::string argument = "\"";
    std::size_t backslashes = 0;
    for (const char character : text)
    {
        if (character == '\\')
        {
            ++backslashes;
            continue;
        }
        if (character == '"')
            backslashes = backslashes * 2 + 1;
        argument.append(backslashes, '\\');
        argument += character;
        backslashes = 0;
    }
    argument.append(backslashes * 2, '\\');
    argument += '"';
    return argument;
}

// Owns the command-line texts and the null-terminated vector that points into them.
class ArgumentVector
{
public:
    explicit ArgumentVector(const std::vector<std::string>& arguments)
    {
        for (const std::string& argument : arguments)
            texts.push_back(commandLineArgument(argument));
        for (const std::string& text : texts)
            pointers.push_back(text.c_str());
        pointers.push_back(nullptr);
    }
    const char* const* data() const { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};
} // namespace

void replaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    const ArgumentVector argv(arguments);
    _execv(program.c_str(), argv.data());
}

int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments)
{
    const ArgumentVector argv(arguments);
    return static_cast<int>(_spawnv(_P_WAIT, program.c_str(), argv.data()));
}

// Windows has no signal for a write to a closed connection; the write just fails.
void ignoreBrokenConnectionSignals() {}

} // namespace Veltora::Platform
