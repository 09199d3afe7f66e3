#include "UpdateManager/core/ProductDescription.h"
#include "UpdateManager/core/ProductKey.h"
#include "UpdateManager/core/UpdateStatus.h"

#include <gtest/gtest.h>

using namespace Veltora::UpdateManager;

TEST(StatusToString, NamesEveryStatusAndRejectsOthers)
{
    EXPECT_EQ(statusToString(Unknown), "unknown");
    EXPECT_EQ(statusToString(UpToDate), "up-to-date");
    EXPECT_EQ(statusToString(DownloadPaused), "download paused");
    EXPECT_EQ(statusToString(OsNotSupported), "latest update doesn't support this OS");
    EXPECT_EQ(statusToString(Error), "error");
    EXPECT_EQ(statusToString(12), "<error state unknown>");
    EXPECT_EQ(statusToString(-1), "<error state unknown>");
}

TEST(ProductKey, OrdersBySkuThenType)
{
    const ProductKey firmware{"ABC", "firmware"};
    const ProductKey soft{"ABC", "soft"};
    EXPECT_NE(firmware, soft);
    EXPECT_TRUE(firmware < soft);
    EXPECT_FALSE(soft < firmware);
    EXPECT_TRUE((ProductKey{"ABB", "soft"} < firmware));
}

TEST(ProductDescription, StartsEmpty)
{
    const ProductDescription description;
    EXPECT_TRUE(description.version.empty());
    EXPECT_TRUE(description.permalink.empty());
    EXPECT_EQ(description.size, 0u);
}
