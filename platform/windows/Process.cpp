#include "platform/Platform.h"

#include <process.h>

namespace Veltora::Platform
{
namespace
{
bool needsQuotes(const std::string& text)
{
    return text.empty() || text.find_first_of(" \t\n\v\"") != std::string::npos;
}

// The C run time reads the program name up to the next double quote and takes backslashes
// in it as they are, so it is always quoted and cannot hold a double quote (no file name
// does); one given with its own quotes keeps only the text between them.
std::string programNameWord(const std::string& text)
{
    std::string word = "\"";
    for (const char character : text)
        if (character != '"')
            word += character;
    return word + "\"";
}

// A later argument as the C run time's splitting reads it back exactly: bare when it holds
// nothing that splits or quotes ("/SILENT" stays as it is); otherwise in double quotes, with
// every double quote escaped and the backslashes before it, or before the closing quote,
// doubled.
std::string argumentWord(const std::string& text)
{
    if (!needsQuotes(text))
        return text;
    std::string word = "\"";
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
        word.append(backslashes, '\\');
        word += character;
        backslashes = 0;
    }
    word.append(backslashes * 2, '\\');
    return word + "\"";
}

// The C run time joins the vector into one command line with blanks between the words and
// the child splits it again; this is the only place where the words are quoted for that.
// Owns the words and the null-terminated vector that points into them.
class CommandLineWords
{
public:
    explicit CommandLineWords(const std::vector<std::string>& arguments)
    {
        for (std::size_t index = 0; index < arguments.size(); ++index)
            words.push_back(index == 0 ? programNameWord(arguments[index])
                                       : argumentWord(arguments[index]));
        for (const std::string& word : words)
            pointers.push_back(word.c_str());
        pointers.push_back(nullptr);
    }
    const char* const* data() const { return pointers.data(); }

private:
    std::vector<std::string> words;
    std::vector<const char*> pointers;
};
} // namespace

void replaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    const CommandLineWords argv(arguments);
    _execv(program.c_str(), argv.data());
}

int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments)
{
    const CommandLineWords argv(arguments);
    return static_cast<int>(_spawnv(_P_WAIT, program.c_str(), argv.data()));
}

// Windows has no signal for a write to a closed connection; the write just fails.
void ignoreBrokenConnectionSignals() {}

} // namespace Veltora::Platform
