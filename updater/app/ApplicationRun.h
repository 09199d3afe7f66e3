#pragma once

namespace Veltora::Updater
{

// Runs the JUCE application that JUCEApplicationBase::createInstance makes until it quits.
// JUCE's entry point differs per system: its Windows build reads the command line itself.
void runJuceApplication(int argc, char* argv[]);

} // namespace Veltora::Updater
