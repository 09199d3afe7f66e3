#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace Veltora::Updater
{

// The application's look: JUCE's LookAndFeel_V3 with a light-blue progress bar drawn
// flat, without border, gradient or animation, so the bar shows exactly the fraction it
// is given.
class UpdaterLookAndFeel : public juce::LookAndFeel_V3
{
public:
    UpdaterLookAndFeel();
    ~UpdaterLookAndFeel() override;

    // Fills the area with the bar's background colour, then width × progress pixels
    // (progress limited to 0..1, NaN as 0, truncated) from the left with its foreground
    // colour, then centres a non-empty text over it at 0.6 × height.
    void drawProgressBar(juce::Graphics& graphics, juce::ProgressBar& bar, int width, int height,
                         double progress, const juce::String& textToShow) override;
};

} // namespace Veltora::Updater
