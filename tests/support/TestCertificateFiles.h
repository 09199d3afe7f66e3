#pragma once

#include <boost/filesystem/path.hpp>

namespace Veltora::Testing
{

// Puts the files that tests/support/make-test-certificates.sh makes into `folder`: on
// POSIX systems by running it, on Windows by copying what it made on the build machine
// before the tests started. Throws std::runtime_error naming what failed.
void makeTestCertificateFiles(const boost::filesystem::path& folder);

} // namespace Veltora::Testing
