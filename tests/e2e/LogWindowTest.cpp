// The hidden "Log window" in this test process, on a private Xvfb display, with its
// close button pressed by a real pointer click.
#include "tests/e2e/Screen.h"
#include "tests/e2e/XvfbDisplay.h"

#include "tests/support/TempFolder.h"
#include "updater/app/UpdaterWindow.h"

#include <gtest/gtest.h>

#include <cstdlib>

using Veltora::Testing::Screen;
using Veltora::Testing::TempFolder;
using Veltora::Testing::XvfbDisplay;
using Veltora::Updater::UpdaterWindow;

namespace
{
// Runs JUCE's message loop until `condition` holds or ten seconds have passed.
bool dispatchUntil(const std::function<bool()>& condition)
{
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    }
    return true;
}

// Never called: its presence makes JUCE treat this test as an application, which is what
// installs JUCE's X error handler. Without it, Xlib's default handler ends the process on
// the harmless errors JUCE provokes on an X server without a window manager.
juce::JUCEApplicationBase* noApplication()
{
    return nullptr;
}

class LogWindowTest : public ::testing::Test
{
protected:
    LogWindowTest()
    {
        setenv("DISPLAY", display.name().c_str(), 1);
        juce::JUCEApplicationBase::createInstance = &noApplication;
    }

    XvfbDisplay display;
    TempFolder scratch;
    Screen screen{display.name(), scratch.path()};
};
} // namespace

TEST_F(LogWindowTest, IsCreatedHiddenOnTheDesktopWithAllThreeButtons)
{
    juce::ScopedJuceInitialiser_GUI juce;
    UpdaterWindow::SecondaryWindow logWindow("Log window");

    EXPECT_EQ(logWindow.getName(), "Log window");
    EXPECT_TRUE(logWindow.isOnDesktop());
    EXPECT_FALSE(logWindow.isVisible());
    EXPECT_EQ(logWindow.getBackgroundColour(), juce::Colour(0xFFFFFFFF));
    EXPECT_NE(logWindow.getCloseButton(), nullptr);
    EXPECT_NE(logWindow.getMinimiseButton(), nullptr);
    EXPECT_NE(logWindow.getMaximiseButton(), nullptr);
    EXPECT_FALSE(screen.visibleWindow("Log window"));
}

TEST_F(LogWindowTest, ItsCloseButtonOnlyHidesIt)
{
    juce::ScopedJuceInitialiser_GUI juce;
    UpdaterWindow::SecondaryWindow logWindow("Log window");
    logWindow.setBounds(100, 100, 400, 200);
    logWindow.setVisible(true);
    ASSERT_TRUE(dispatchUntil([&] { return screen.visibleWindow("Log window").has_value(); }));

    const juce::Point<int> close = logWindow.getCloseButton()->getScreenBounds().getCentre();
    ASSERT_TRUE(screen.click(close.x, close.y));

    EXPECT_TRUE(dispatchUntil([&] { return !logWindow.isVisible(); }));
    EXPECT_TRUE(logWindow.isOnDesktop()) << "hidden, not closed";
    EXPECT_TRUE(dispatchUntil([&] { return !screen.visibleWindow("Log window").has_value(); }));
}
