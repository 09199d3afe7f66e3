// Entry point of the Windows test programs. Standard output and error are switched to
// binary mode: in text mode the C run time writes "\r\n", which would end up inside the
// test names that ctest reads from the test list. Crashes report to standard error instead
// of waiting in a dialog box. Winsock is started for the tests' servers and requests:
// GCC builds of POCO do not start it by themselves.

// POCO's network header brings winsock2.h, which must come before windows.h.
#include <Poco/Net/Net.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int main(int argc, char** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Poco::Net::initializeNetwork();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
