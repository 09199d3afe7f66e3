#include "UpdateManager/core/ProductDescription.h"
#include "UpdateManager/core/ProductKey.h"
#include "UpdateManager/core/UpdateStatus.h"

#include <gtest/gtest.h>

using namespace Veltora::UpdateManager;

TEST(StatusToString, NamesEveryStatusByItsFixedNumber)
{
    struct Row
    {
        UpdateStatus status;
        int number;
        const char* text;
    };
    const Row table[] = {
        {Unknown, 0, "unknown"},
        {UpToDate, 1, "up-to-date"},
        {UpdateNeeded, 2, "update needed"},
        {DownloadInProgress, 3, "download in progress"},
        {DownloadPaused, 4, "download paused"},
        {DownloadError, 5, "download error"},
        {InstallerAvailable, 6, "installer available"},
        {InstallerStart, 7, "installer start"},
        {InstallInProgress, 8, "install in progress"},
        {InstallComplete, 9, "install complete"},
        {OsNotSupported, 10, "latest update doesn't support this OS"},
        {Error, 11, "error"},
    };
    for (const Row& row : table)
    {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(static_cast<int>(row.status), row.number);
        EXPECT_EQ(statusToString(row.status), row.text);
    }
}

TEST(StatusToString, RejectsNumbersOutsideTheTable)
{
    for (const int number : {-1, 12, 1000})
        EXPECT_EQ(statusToString(number), "<error state unknown>") << number;
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
