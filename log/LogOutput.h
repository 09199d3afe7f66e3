#pragma once

#include <cstddef>

// Where the log engine's text goes: the writer thread's lines, the engine's lifecycle lines
// and the buffers' warnings. The engine is given its output when it is made.
class LogOutput
{
public:
    virtual ~LogOutput() = default;

    // Writes the text as one piece and passes it on at once. Called by the writer thread and,
    // for the lines that bypass the buffers, by any logging thread: texts written at the
    // same moment may come in either order but never interleave.
    virtual void write(const char* text, std::size_t length) = 0;
};
