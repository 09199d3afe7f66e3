#include "updater/app/UpdaterLookAndFeel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using Veltora::Updater::UpdaterLookAndFeel;

namespace
{
const juce::Colour lightBlue(0xFFADD8E6);

// Paints one progress bar of the given size straight into an image.
class BarPainting
{
public:
    BarPainting() { bar.setLookAndFeel(&lookAndFeel); }
    ~BarPainting() { bar.setLookAndFeel(nullptr); }

    juce::Image paint(int width, int height, double progress, const juce::String& text = {})
    {
        juce::Image image(juce::Image::ARGB, width, height, true);
        juce::Graphics graphics(image);
        lookAndFeel.drawProgressBar(graphics, bar, width, height, progress, text);
        return image;
    }

    juce::Colour background() const
    {
        return bar.findColour(juce::ProgressBar::backgroundColourId);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    UpdaterLookAndFeel lookAndFeel;
    double barValue = 0.0;
    juce::ProgressBar bar{barValue};
};

// Number of leading columns whose every pixel is `colour`; fails when a later column
// holds it again (the fill must be one block from the left).
int filledColumns(const juce::Image& image, juce::Colour colour)
{
    auto columnIs = [&](int x, juce::Colour expected)
    {
        for (int y = 0; y < image.getHeight(); ++y)
            if (image.getPixelAt(x, y) != expected)
                return false;
        return true;
    };
    int columns = 0;
    while (columns < image.getWidth() && columnIs(columns, colour))
        ++columns;
    for (int x = columns; x < image.getWidth(); ++x)
        EXPECT_FALSE(columnIs(x, colour)) << "filled column " << x << " after a gap";
    return columns;
}

struct BarCase
{
    const char* name;
    int width;
    double progress;
    int expectedColumns;
};

void PrintTo(const BarCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class ProgressBarDrawing : public ::testing::TestWithParam<BarCase>
{
};
} // namespace

TEST_P(ProgressBarDrawing, FillsTheTruncatedProportionFromTheLeft)
{
    const BarCase& barCase = GetParam();
    BarPainting painting;
    const juce::Image image = painting.paint(barCase.width, 20, barCase.progress);

    EXPECT_EQ(filledColumns(image, lightBlue), barCase.expectedColumns);
    for (int x = barCase.expectedColumns; x < barCase.width; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(image.getPixelAt(x, y), painting.background()) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProgressBarDrawing,
    ::testing::Values(BarCase{"Half", 200, 0.5, 100}, BarCase{"AboveOne", 200, 1.7, 200},
                      BarCase{"Indeterminate", 200, -1.0, 0},
                      BarCase{"TruncatedThird", 100, 0.333, 33},
                      BarCase{"TruncatedNotRounded", 100, 0.339, 33}, BarCase{"Zero", 200, 0.0, 0},
                      BarCase{"One", 200, 1.0, 200},
                      BarCase{"NotANumber", 200, std::numeric_limits<double>::quiet_NaN(), 0},
                      BarCase{"Infinite", 200, std::numeric_limits<double>::infinity(), 200}),
    [](const ::testing::TestParamInfo<BarCase>& param) { return std::string(param.param.name); });

TEST(ProgressBarColours, ComeFromTheBarSoItsOwnColoursWin)
{
    BarPainting painting;
    painting.bar.setColour(juce::ProgressBar::foregroundColourId, juce::Colours::red);
    painting.bar.setColour(juce::ProgressBar::backgroundColourId, juce::Colours::black);

    const juce::Image image = painting.paint(200, 20, 0.25);

    EXPECT_EQ(filledColumns(image, juce::Colours::red), 50);
    EXPECT_EQ(image.getPixelAt(199, 10), juce::Colours::black);
}

TEST(ProgressBarText, IsCentredInAFontOfSixTenthsOfTheHeight)
{
    BarPainting painting;
    const juce::Colour background = painting.background();
    auto reference = [&](float fontHeight)
    {
        juce::Image image(juce::Image::ARGB, 200, 20, true);
        juce::Graphics graphics(image);
        graphics.fillAll(background);
        graphics.setColour(lightBlue);
        graphics.fillRect(0, 0, 100, 20);
        graphics.setColour(juce::Colour::contrasting(background, lightBlue));
        graphics.setFont(fontHeight);
        graphics.drawText("50%", 0, 0, 200, 20, juce::Justification::centred, false);
        return image;
    };
    auto samePixels = [](const juce::Image& left, const juce::Image& right)
    {
        for (int y = 0; y < left.getHeight(); ++y)
            for (int x = 0; x < left.getWidth(); ++x)
                if (left.getPixelAt(x, y) != right.getPixelAt(x, y))
                    return false;
        return true;
    };

    const juce::Image withText = painting.paint(200, 20, 0.5, "50%");

    EXPECT_TRUE(samePixels(withText, reference(12.0f)));
    EXPECT_FALSE(samePixels(withText, reference(15.0f)));
    EXPECT_FALSE(samePixels(withText, painting.paint(200, 20, 0.5)));
}

TEST(ProgressBarText, EmptyTextDrawsNothingButTheBar)
{
    BarPainting painting;
    const juce::Image image = painting.paint(200, 20, 0.5);
    EXPECT_EQ(filledColumns(image, lightBlue), 100);
    for (int x = 100; x < 200; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(image.getPixelAt(x, y), painting.background());
}

TEST(LookAndFeelColours, OnlyTheBarForegroundDiffersFromVersionThree)
{
    juce::ScopedJuceInitialiser_GUI juce;
    UpdaterLookAndFeel updaterLook;
    juce::LookAndFeel_V3 plainLook;
    EXPECT_EQ(updaterLook.findColour(juce::ProgressBar::foregroundColourId), lightBlue);
    for (int id : std::initializer_list<int>{
             juce::ProgressBar::backgroundColourId, juce::TextButton::buttonColourId,
             juce::Label::textColourId, juce::ResizableWindow::backgroundColourId})
        EXPECT_EQ(updaterLook.findColour(id), plainLook.findColour(id)) << std::hex << id;
}
