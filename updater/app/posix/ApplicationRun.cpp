#include "updater/app/ApplicationRun.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace Veltora::Updater
{

void runJuceApplication(int argc, char* argv[])
{
    juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));
}

} // namespace Veltora::Updater
