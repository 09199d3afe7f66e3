#pragma once

#include "log/LogOutput.h"

#include <mutex>
#include <string>

namespace Veltora::Testing
{

// A log output that keeps everything written to it, for tests that read what the log
// engine wrote while the engine goes on running:
//
//     auto output = std::make_shared<InMemoryLogOutput>();
//     CLog engine(output);
//     ...
//     engine.stopThread(); // the final flush writes every line appended so far
//     EXPECT_NE(output->text().find("..."), std::string::npos);
class InMemoryLogOutput : public LogOutput
{
public:
    void write(const char* text, std::size_t length) override;

    // Everything written so far, in the order it was written.
    std::string text() const;

private:
    mutable std::mutex mutex;
    std::string written;
};

} // namespace Veltora::Testing
