#include "log/StandardOutput.h"

#include <iostream>

StandardOutput::StandardOutput()
{
    std::cout.clear();
}

// One stream write per text: with the stream synchronised with stdio, that is one locked
// stdio write, so concurrent texts do not interleave.
void StandardOutput::write(const char* text, std::size_t length)
{
    std::cout.write(text, static_cast<std::streamsize>(length));
    std::cout.flush();
}
