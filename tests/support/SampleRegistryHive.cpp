#include "tests/support/SampleRegistryHive.h"

namespace Veltora::Testing
{

const char* const sampleSystemHive = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Classes\\.vproj] 1700000000
#time=1da0c0ffee
@="Veltora.Project"

[Software\\Vendor\\Product] 1700000000
#time=1da0c0ffee
"Count"=dword:00000003
"Expand"=str(2):"%ProgramFiles%\\Vendor"
"Binary"=hex:01,02,03,\
  04,05
"Multi"=str(7):"a\0b\0"
"AsHex"=hex(1):41,00,00,00
"InstallDir"="C:\\Apps\\Product"
"Escapes"="q\"uote\" tab\t nl\n e\x00e9 smile\x263a oct\101 bell\a"
"Cut"="before\0after"
"Surrogate"="ok\xd83d\xde00 then\xd800lost"
"Unicode"="Caf)"
                                     "\xC3\xA9"
                                     R"("
"Empty"=""

[Software\\Vendor\\Product\\Sub] 1700000000
"InstallDir"="C:\\Other"

[Software\\Vendor\\Product2] 1700000000
"Only"="two"
)";

} // namespace Veltora::Testing
