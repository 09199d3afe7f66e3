#pragma once

#include "UpdateManager/core/ProductDescription.h"
#include "UpdateManager/download/DownloaderBackgrounder.h"
#include "UpdateManager/install/Installer.h"

#include <memory>

namespace Veltora::UpdateManager
{

// What the update manager keeps per product: the merged server and local data, the
// installer record that also holds the product's update status, and the product's own
// download worker. The install thread keeps a pointer to `installer` while it runs it, so
// a record must stay where it is for the manager's whole life (the product table is a
// node-based map and never removes entries).
struct ProductInfo
{
    ProductDescription description;
    Installer installer;
    std::shared_ptr<DownloaderBackgrounder> downloader;
};

} // namespace Veltora::UpdateManager
