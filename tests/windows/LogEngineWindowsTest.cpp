#include "log/CLog.h"
#include "platform/Platform.h"
#include "tests/support/InMemoryLogOutput.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>

using Veltora::Testing::InMemoryLogOutput;

// The pieces the log engine takes from the Windows backend: the module path in its
// lifecycle lines and the system's thread id in every line.
TEST(LogEngineOnWindows, NamesTheProgramAndTheWindowsThreadId)
{
    auto output = std::make_shared<InMemoryLogOutput>();
    {
        CLog engine(output);
        engine.setCategoryLevel("web", LogError);
        engine.log("web", LogError, "Error connecting to ", "host");
    }
    const std::string text = output->text();

    const std::string program = Veltora::Platform::modulePath();
    EXPECT_NE(program.find("log_windows_tests.exe"), std::string::npos) << program;
    EXPECT_NE(text.find("LOG - START THREAD " + program + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("LOG FLUSH DONE " + program + "\n"), std::string::npos) << text;
    const std::regex line("\\[LOG\\] -?[0-9]+ +\\| " + std::to_string(GetCurrentThreadId()) +
                          " *\\| web {12} \\| error  \\| Error connecting to host\n");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
}
