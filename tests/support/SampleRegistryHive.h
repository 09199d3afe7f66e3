#pragma once

namespace Veltora::Testing
{

// A machine hive (system.reg) as Wine writes it, with a value of every kind the registry
// reader meets: strings with each escape, expandable and multi strings, numbers, binary
// data continued on the next line, a key with a sub-key and one with a similar name. The
// registry tests read it, and the registry reader's fuzz target starts from it.
extern const char* const sampleSystemHive;

} // namespace Veltora::Testing
