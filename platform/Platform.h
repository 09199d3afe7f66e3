#pragma once

// The operating-system services the updater needs, behind portable declarations.
// Each backend (posix/, windows/) implements them, apart from what both share (the tests'
// version override, OsVersionCheck.cpp); nothing outside this folder tests for the
// operating system.

#include <cstdint>
#include <string>
#include <vector>

namespace Veltora::Platform
{

// Identifier of the calling thread as the operating system numbers it.
std::uint64_t currentThreadId();

// Wall-clock time in 100-ns ticks since 1970-01-01 00:00 UTC.
std::int64_t systemTimeTicks();

// Full path of the module file that holds the calling code (the executable here).
std::string modulePath();

// Replaces the process by `program`, giving it `arguments` (argument 0 included) exactly
// as they are: a backend whose child gets one command line (Windows) quotes them so that
// the child's C run time splits it back into these texts. The program starts with every
// signal at its default action, none blocked, and only the standard descriptors 0, 1 and
// 2. Returns only when the replacement failed, with the process's signal state as it was
// (its descriptors above 2 are left marked close-on-exec).
void replaceProcess(const std::string& program, const std::vector<std::string>& arguments);

// Keeps the process alive when it writes to a connection the peer has closed: the write
// then fails with an error the caller handles, instead of ending the process.
void ignoreBrokenConnectionSignals();

// Starts `program` with `arguments` (argument 0 included, given to it as replaceProcess
// does, in the same clean state), waits for it and returns its exit code, or -1 when it
// could not start.
int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments);

// Creates the file `name` inside the existing folder `folder`, or replaces its content,
// with `text` as text (line feeds become the platform's line ends). Nothing is written, and
// no file elsewhere is touched, when the folder or the file is a symbolic link (or another
// kind of link), when the file is not a regular file or has other names (hard links), or
// when `name` is not a plain file name. False with the reason in `reason` when the file was
// not written completely.
bool writeTextFileInFolder(const std::string& folder, const std::string& name,
                           const std::string& text, std::string& reason);

enum class KnownFolder
{
    Downloads,
    ProgramFilesX86,
    ProgramFilesX64,
    ProgramData,
    Profile
};

// The folder as narrow text, without a trailing separator; false when it cannot be
// determined. When the folder exists but its path cannot be written as narrow text, the
// system's error code goes to *conversionError (when given) so the caller can report it.
bool knownFolderPath(KnownFolder folder, std::string& path, int* conversionError = nullptr);

// The four 16-bit numbers of a file's fixed file version (major, minor, build, revision);
// false when the file has no readable version resource.
struct FileVersion
{
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};
bool readFixedFileVersion(const std::string& file, FileVersion& version);

enum class RegistryRoot
{
    CurrentUser,
    LocalMachine,
    ClassesRoot
};

// One REG_SZ value as narrow text; false when the key or value is missing, the value is
// of another type or too large.
bool readRegistryValue(RegistryRoot root, const std::u16string& subKey,
                       const std::u16string& valueName, std::string& value);

// UTF-16 text as narrow text (the ANSI code page on Windows, UTF-8 elsewhere). The text
// ends where the first character that cannot be represented stood.
std::string narrowText(const std::u16string& text);

// Whether the running operating system is at least (major, minor, servicePack),
// compared in that order.
bool isOsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack);

// The operating system's name as people know it ("Linux", "Windows").
const char* osName();
// The running system's version as its own tools show it ("6.1.0-18-amd64", "10.0.19045"),
// or the version set by overrideOsVersionForTesting.
std::string osVersionText();
// Whether this Windows program runs under Wine, whose windowing differs from Windows' in
// ways a program may have to work around; false on every other system.
bool isRunningUnderWine();

// For tests only: makes isOsVersionAtLeast compare against this version instead of the
// running system's, for the whole process, until clearOsVersionOverrideForTesting.
void overrideOsVersionForTesting(unsigned major, unsigned minor, unsigned servicePack);
void clearOsVersionOverrideForTesting();

// Creates a new file at `path` that only its owner may read or write, from the first
// moment it exists, and writes `content` to it (secrets such as a private key). Anything
// already at `path`, a symbolic link included, makes it fail; so does a path with a NUL
// character inside, and a failed write, which leaves no file behind. On failure `error`
// holds the reason.
bool createPrivateFile(const std::string& path, const std::string& content, std::string& error);

// The certification authorities that the system's own certificate store trusts, each as
// its DER-encoded certificate, for a TLS library that does not read that store itself
// (Windows' ROOT store). Empty where the TLS library finds the system's CAs on its own
// (POSIX systems, whose OpenSSL reads their certificate folder).
std::vector<std::string> trustedRootCertificates();

// The word that names this platform to the resources server.
const char* platformWord();

} // namespace Veltora::Platform
