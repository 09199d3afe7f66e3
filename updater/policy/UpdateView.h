#pragma once

#include <string>

namespace Veltora::Updater
{

// What UpdatePolicy asks of whoever shows the update: the window, or a test that records
// the requests.
class UpdateView
{
public:
    virtual ~UpdateView() = default;

    virtual void showText(const std::string& text) = 0;
    // A fraction from 0 to 1; a negative value shows an empty bar.
    virtual void showProgress(double progress) = 0;
    // Offers "Launch Installer" and "Quit" after a failed installation.
    virtual void showButtons() = 0;
    // Ends the run; called again on later ticks while the run is still ending.
    virtual void quit() = 0;
    // Gives a resumed transfer a moment before the next tick looks at it.
    virtual void pauseAfterResume() = 0;
    // A diagnostic for standard output, without a line end.
    virtual void printDiagnostic(const std::string& text) = 0;
};

} // namespace Veltora::Updater
