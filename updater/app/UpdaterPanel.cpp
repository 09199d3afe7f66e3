#include "updater/app/UpdaterPanel.h"

#include <algorithm>
#include <utility>

namespace Veltora::Updater
{

UpdaterPanel::UpdaterPanel(const juce::String& panelName,
                           std::function<void()> launchInstallerCallback,
                           std::function<void()> quitCallback)
    : juce::Component(panelName), messageLabel("message", juce::String()),
      progressBar(progressValue), launchInstallerButton("Launch Installer"), quitButton("Quit"),
      onLaunchInstaller(std::move(launchInstallerCallback)), onQuit(std::move(quitCallback))
{
    messageLabel.setJustificationType(juce::Justification::centred);
    addAndMakeVisible(messageLabel);
    addAndMakeVisible(progressBar);
    addChildComponent(launchInstallerButton);
    addChildComponent(quitButton);
    launchInstallerButton.addListener(this);
    quitButton.addListener(this);
}

UpdaterPanel::~UpdaterPanel()
{
    launchInstallerButton.removeListener(this);
    quitButton.removeListener(this);
}

void UpdaterPanel::setText(const juce::String& text)
{
    messageLabel.setText(text, juce::sendNotificationAsync);
}

void UpdaterPanel::setProgress(double value)
{
    progressValue = value;
}

void UpdaterPanel::showButtons(bool show)
{
    progressBar.setVisible(!show);
    launchInstallerButton.setVisible(show);
    quitButton.setVisible(show);
}

void UpdaterPanel::buttonClicked(juce::Button* button)
{
    if (button == &launchInstallerButton)
        onLaunchInstaller();
    else if (button == &quitButton)
        onQuit();
}

void UpdaterPanel::buttonStateChanged(juce::Button*) {}

void UpdaterPanel::resized()
{
    const int width = getWidth();
    const int height = getHeight();
    const int labelHeight = height / 2;
    const int barHeight = std::min(height / 2, 30);
    const int rowBottom = (3 * height) / 4;

    messageLabel.setBounds(0, 0, width, labelHeight);
    progressBar.setBounds(10, rowBottom - barHeight, width - 20, barHeight);
    launchInstallerButton.setBounds(width / 4 - 55, rowBottom - 24, 110, 24);
    quitButton.setBounds((3 * width) / 4 - 55, rowBottom - 24, 110, 24);
}

} // namespace Veltora::Updater
