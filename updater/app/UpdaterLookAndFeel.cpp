#include "updater/app/UpdaterLookAndFeel.h"

#include <algorithm>

namespace Veltora::Updater
{

namespace
{
// Anything not above 0 (negative, NaN) shows an empty bar; anything above 1 a full one.
double filledProportion(double progress)
{
    if (!(progress > 0.0))
        return 0.0;
    return std::min(progress, 1.0);
}
} // namespace

UpdaterLookAndFeel::UpdaterLookAndFeel()
{
    setColour(juce::ProgressBar::foregroundColourId, juce::Colour(0xFFADD8E6));
}

UpdaterLookAndFeel::~UpdaterLookAndFeel() = default;

void UpdaterLookAndFeel::drawProgressBar(juce::Graphics& graphics, juce::ProgressBar& bar,
                                         int width, int height, double progress,
                                         const juce::String& textToShow)
{
    const juce::Colour background = bar.findColour(juce::ProgressBar::backgroundColourId);
    const juce::Colour foreground = bar.findColour(juce::ProgressBar::foregroundColourId);

    graphics.fillAll(background);

    graphics.setColour(foreground);
    const int filledWidth = static_cast<int>(width * filledProportion(progress));
    graphics.fillRect(0, 0, filledWidth, height);

    if (textToShow.isEmpty())
        return;
    graphics.setColour(juce::Colour::contrasting(background, foreground));
    graphics.setFont(static_cast<float>(height) * 0.6f);
    graphics.drawText(textToShow, 0, 0, width, height, juce::Justification::centred, false);
}

} // namespace Veltora::Updater
