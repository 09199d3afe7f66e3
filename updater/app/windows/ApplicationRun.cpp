#include "updater/app/ApplicationRun.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace Veltora::Updater
{

void runJuceApplication(int, char*[])
{
    juce::JUCEApplicationBase::main();
}

} // namespace Veltora::Updater
