#pragma once

#include <cstdio>
#include <string>

#include <windows.h>

// What the Windows test programs share: plain programs (no Qt on the machines that cross-compile them) that print one
// line per failed check and then "N passed, N failed", which the Windows check reads.
namespace WindowsChecks {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const char* what)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL  %s\n", what);
    }
}

// The test program's own file.
inline std::wstring ownPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Prints the totals; the program's exit status.
inline int report()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace WindowsChecks
