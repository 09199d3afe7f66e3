#include "updater/app/UpdaterPanel.h"

#include <gtest/gtest.h>

using Veltora::Updater::UpdaterPanel;

namespace
{
// A panel with counting callbacks and its children found by what they are.
class PanelFixture
{
public:
    PanelFixture()
    {
        for (juce::Component* child : panel.getChildren())
        {
            if (auto* text = dynamic_cast<juce::Label*>(child))
                label = text;
            else if (auto* progress = dynamic_cast<juce::ProgressBar*>(child))
                bar = progress;
            else if (auto* button = dynamic_cast<juce::TextButton*>(child))
                (button->getButtonText() == "Quit" ? quit : launchInstaller) = button;
        }
    }

    // Runs the message loop until every message posted before this call has been handled.
    void handlePendingMessages()
    {
        bool reached = false;
        juce::MessageManager::callAsync([&reached] { reached = true; });
        const auto deadline = juce::Time::getMillisecondCounter() + 10000;
        while (!reached && juce::Time::getMillisecondCounter() < deadline)
            juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
        ASSERT_TRUE(reached);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    int launchClicks = 0;
    int quitClicks = 0;
    UpdaterPanel panel{"main", [this] { ++launchClicks; }, [this] { ++quitClicks; }};
    juce::Label* label = nullptr;
    juce::ProgressBar* bar = nullptr;
    juce::TextButton* launchInstaller = nullptr;
    juce::TextButton* quit = nullptr;
};

struct LayoutCase
{
    int width;
    int height;
    juce::Rectangle<int> label;
    juce::Rectangle<int> bar;
    juce::Rectangle<int> launchInstaller;
    juce::Rectangle<int> quit;
};

void PrintTo(const LayoutCase& testCase, std::ostream* out)
{
    *out << testCase.width << "x" << testCase.height;
}

class PanelLayout : public ::testing::TestWithParam<LayoutCase>
{
};
} // namespace

TEST(Panel, StartsWithAnEmptyCentredLineAndTheBarButNoButtons)
{
    PanelFixture fixture;
    ASSERT_NE(fixture.label, nullptr);
    ASSERT_NE(fixture.bar, nullptr);
    ASSERT_NE(fixture.launchInstaller, nullptr);
    ASSERT_NE(fixture.quit, nullptr);
    EXPECT_EQ(fixture.panel.getName(), "main");
    EXPECT_EQ(fixture.label->getName(), "message");
    EXPECT_TRUE(fixture.label->getText().isEmpty());
    EXPECT_EQ(fixture.label->getJustificationType(),
              juce::Justification(juce::Justification::centred));
    EXPECT_EQ(fixture.launchInstaller->getButtonText(), "Launch Installer");
    EXPECT_TRUE(fixture.label->isVisible());
    EXPECT_TRUE(fixture.bar->isVisible());
    EXPECT_FALSE(fixture.launchInstaller->isVisible());
    EXPECT_FALSE(fixture.quit->isVisible());
}

TEST_P(PanelLayout, PlacesTheChildrenFromWidthAndHeight)
{
    const LayoutCase& layout = GetParam();
    PanelFixture fixture;
    fixture.panel.setBounds(0, 0, layout.width, layout.height);
    EXPECT_EQ(fixture.label->getBounds(), layout.label);
    EXPECT_EQ(fixture.bar->getBounds(), layout.bar);
    EXPECT_EQ(fixture.launchInstaller->getBounds(), layout.launchInstaller);
    EXPECT_EQ(fixture.quit->getBounds(), layout.quit);
}

// Panel width and height, then the expected bounds of the label, the bar and the two
// buttons.
const LayoutCase layouts[] = {
    {300, 100, {0, 0, 300, 50}, {10, 45, 280, 30}, {20, 51, 110, 24}, {170, 51, 110, 24}},
    {300, 40, {0, 0, 300, 20}, {10, 10, 280, 20}, {20, 6, 110, 24}, {170, 6, 110, 24}},
    {300, 200, {0, 0, 300, 100}, {10, 120, 280, 30}, {20, 126, 110, 24}, {170, 126, 110, 24}},
    {101, 7, {0, 0, 101, 3}, {10, 2, 81, 3}, {-30, -19, 110, 24}, {20, -19, 110, 24}},
};

INSTANTIATE_TEST_SUITE_P(Sizes, PanelLayout, ::testing::ValuesIn(layouts),
                         [](const ::testing::TestParamInfo<LayoutCase>& param) {
                             return std::to_string(param.param.width) + "x" +
                                    std::to_string(param.param.height);
                         });

TEST(Panel, ShowButtonsSwapsTheBarAndTheButtonsBothWays)
{
    PanelFixture fixture;
    fixture.panel.showButtons(true);
    EXPECT_FALSE(fixture.bar->isVisible());
    EXPECT_TRUE(fixture.launchInstaller->isVisible());
    EXPECT_TRUE(fixture.quit->isVisible());

    fixture.panel.showButtons(false);
    EXPECT_TRUE(fixture.bar->isVisible());
    EXPECT_FALSE(fixture.launchInstaller->isVisible());
    EXPECT_FALSE(fixture.quit->isVisible());
}

TEST(Panel, SetTextShowsTheText)
{
    PanelFixture fixture;
    fixture.panel.setText("Install failed.");
    EXPECT_EQ(fixture.label->getText(), "Install failed.");
}

TEST(Panel, EachClickCallsItsOwnCallbackExactlyOnce)
{
    PanelFixture fixture;
    fixture.panel.showButtons(true);

    fixture.quit->triggerClick();
    fixture.handlePendingMessages();
    EXPECT_EQ(fixture.quitClicks, 1);
    EXPECT_EQ(fixture.launchClicks, 0);

    fixture.launchInstaller->triggerClick();
    fixture.quit->triggerClick();
    fixture.handlePendingMessages();
    EXPECT_EQ(fixture.quitClicks, 2);
    EXPECT_EQ(fixture.launchClicks, 1);
}

TEST(Panel, IgnoresClicksOfOtherButtons)
{
    PanelFixture fixture;
    juce::TextButton stranger("Quit");
    fixture.panel.buttonClicked(&stranger);
    EXPECT_EQ(fixture.quitClicks, 0);
    EXPECT_EQ(fixture.launchClicks, 0);
}
