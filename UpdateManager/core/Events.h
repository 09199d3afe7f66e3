#pragma once

#include <string>

namespace Veltora::UpdateManager
{

// Once at the end of every state refresh of a range of products.
struct ProductListChangedEvent
{
};

// A product's status changed, or asks to be looked at again.
struct ProductChangedEvent
{
    std::string sku;
    std::string type;
};

// A transfer's progress (a fraction from 0 to 1), or 100.0 with finished set once the
// download has completed.
struct DownloadProgressEvent
{
    std::string sku;
    std::string type;
    double progress = 0.0;
    bool finished = false;
};

// A finished installation has been processed.
struct InstallFinishedEvent
{
    std::string sku;
    std::string type;
    bool success = false;
};

} // namespace Veltora::UpdateManager
