#include "updater/app/JUCEUpdaterApplication.h"

#include <gtest/gtest.h>

using Veltora::Updater::JUCEUpdaterApplication;

// The version is written once, in the build's project(VERSION), and reaches the
// application from there.
TEST(JUCEUpdaterApplication, ReportsTheProjectVersion)
{
    // JUCE expects an application object only in a program that says how to make one.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
    { return nullptr; };
    JUCEUpdaterApplication application({}, std::nullopt);
    EXPECT_EQ(application.getApplicationVersion(), PROJECT_VERSION);
}
