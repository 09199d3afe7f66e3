#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace Veltora::Updater
{

// The content of the update window: one status line over either a progress bar or the
// two buttons "Launch Installer" and "Quit". It holds no logic: the window sets the text
// and the progress, switches to the buttons after a failed installation, and receives
// the button clicks through the two callbacks, which must both be set.
class UpdaterPanel : public juce::Component, public juce::Button::Listener
{
public:
    UpdaterPanel(const juce::String& panelName, std::function<void()> onLaunchInstaller,
                 std::function<void()> onQuit);
    ~UpdaterPanel() override;

    // The label shows `text`; listeners hear of it asynchronously.
    void setText(const juce::String& text);
    // The bar picks the value up by itself on its next repaint; a negative value draws an
    // empty bar.
    void setProgress(double value);
    // True: the bar is hidden and both buttons are shown; false: the other way round.
    void showButtons(bool show);

    void buttonClicked(juce::Button* button) override;
    void buttonStateChanged(juce::Button* button) override;
    void resized() override;

private:
    double progressValue = 0.0;
    juce::Label messageLabel;
    juce::ProgressBar progressBar;
    juce::TextButton launchInstallerButton;
    juce::TextButton quitButton;
    std::function<void()> onLaunchInstaller;
    std::function<void()> onQuit;
};

} // namespace Veltora::Updater
