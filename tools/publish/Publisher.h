#pragma once

#include "tools/publish/PublishOptions.h"

#include <ostream>

namespace Veltora::Publish
{

// Publishes one release into the tree at options.outFolder, in this order: load the
// signing key and the release notes, check that the version is newer than the published
// one, copy and measure the installer, sign, and replace `latest`. Nothing is written
// before every input has been read and checked, and `latest` changes last, so a failure
// never leaves it naming a missing or partial installer. Reports what it wrote to
// `report`; throws std::runtime_error (or a SigningError) with a one-line reason.
void publishRelease(const PublishOptions& options, std::ostream& report);

// Writes a new private key to options.outFolder and prints the public key as the last
// line of `report`.
void generateKey(const PublishOptions& options, std::ostream& report);

} // namespace Veltora::Publish
