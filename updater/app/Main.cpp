// The process entry point: runs the JUCE application, then either replaces the process
// by the updated product or closes the log engine, whose final flush prints what is left.
#include "updater/app/ApplicationRun.h"
#include "updater/app/JUCEUpdaterApplication.h"
#include "updater/cli/CommandLine.h"
#include "updater/cli/ExitStatus.h"

#include "UpdateManager/signing/SigningPublicKey.h"
#include "log/CLog.h"
#include "platform/Platform.h"

#include <Poco/Net/Net.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace
{
std::vector<std::string> commandLineArguments;
std::optional<Veltora::UpdateManager::SigningPublicKey> releaseSigningKey;

// JUCE owns and deletes the application object it gets from here.
juce::JUCEApplicationBase* createApplication()
{
    return new Veltora::Updater::JUCEUpdaterApplication(commandLineArguments, releaseSigningKey);
}
} // namespace

int main(int argc, char* argv[])
{
    commandLineArguments.assign(argv + 1, argv + argc);
    // The build's release signing key (empty: releases are not checked); the build
    // configuration has already refused a malformed one.
    const std::string signingKeyText = UPDATER_SIGNING_PUBLIC_KEY;
    if (!signingKeyText.empty())
    {
        releaseSigningKey = Veltora::UpdateManager::SigningPublicKey::fromText(signingKeyText);
        if (!releaseSigningKey)
        {
            std::cerr << "updater: the built-in release signing key is malformed\n";
            return Veltora::Updater::ExitStatus::CannotStartOrRelaunch;
        }
    }
    // A server that resets the connection while a request is written must not end the
    // updater; the request fails and is handled like any other connection failure.
    Veltora::Platform::ignoreBrokenConnectionSignals();
    // Starts the Windows sockets library, which GCC builds of POCO never start by
    // themselves (elsewhere it does nothing).
    Poco::Net::initializeNetwork();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    // Its result is not the process's: a run that reaches the next line ends with 0 when the
    // product was updated and 2 when the update did not complete.
    Veltora::Updater::runJuceApplication(argc, argv);

    Veltora::Updater::relaunchProduct();

    CLog::getInstance();
    CLog::destroyInstance();
    const int status = Veltora::Updater::exitStatusAfterRun();
    if (status != Veltora::Updater::ExitStatus::Updated)
        Veltora::Updater::reportFailure(Veltora::Updater::incompleteRunCause);
    return status;
}
