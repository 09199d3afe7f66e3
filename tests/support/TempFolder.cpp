#include "tests/support/TempFolder.h"

namespace Veltora::Testing
{

TempFolder::TempFolder()
    : root(boost::filesystem::temp_directory_path() /
           boost::filesystem::unique_path("updater-test-%%%%-%%%%-%%%%"))
{
    boost::filesystem::create_directories(root);
}

TempFolder::~TempFolder()
{
    boost::system::error_code ignored;
    boost::filesystem::remove_all(root, ignored);
}

} // namespace Veltora::Testing
