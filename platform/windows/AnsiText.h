#pragma once

#include <windows.h>

#include <string>

namespace Veltora::Platform::Windows
{

// Converts `length` UTF-16 units of `text` to the active ANSI code page
// (WideCharToMultiByte with CP_ACP) into `output` of `outputSize` bytes, or only measures
// the result when `output` is null. Returns the bytes written (0 on failure, the error then
// in GetLastError). `exact` tells whether every character was converted as itself: no
// look-alike is ever substituted, and a character the code page cannot hold (or invalid
// UTF-16) clears it.
int toAnsi(const wchar_t* text, int length, char* output, int outputSize, bool& exact);

// A narrow path (ANSI text, as the known folders and the module path give them) as the wide
// path the file calls take, widened with the same code page. False for an empty path or one
// with an embedded NUL, which would name another file.
bool toWidePath(const std::string& path, std::wstring& wide);

} // namespace Veltora::Platform::Windows
