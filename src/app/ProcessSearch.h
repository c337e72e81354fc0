#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/ProcessPlatform.h"

// The housekeeping rules over a process list. Free of Qt, so that the Windows test program runs them against the
// system's own process list under the Windows cross compiler.
namespace ProcessSearch {

// The first entry after the list's first (the system's idle process) whose name contains executableName, letter
// case counting, whose id is not ownProcessId and that isCopy (when given) accepts; nullptr when there is none.
const ProcessEntry* otherCopy(const std::vector<ProcessEntry>& entries, const std::wstring& executableName,
                              std::int64_t ownProcessId, const std::function<bool(std::uint32_t id)>& isCopy = {});

// The first entry whose name equals name ignoring letter case, looking from the list's second entry when
// skipFirst is set; nullptr when there is none.
const ProcessEntry* findNamed(const std::vector<ProcessEntry>& entries, const std::wstring& name, bool skipFirst);

// Equal ignoring the case of the letters A to Z (the names compared are the program's own, in ASCII).
bool sameNameIgnoringCase(const std::wstring& a, const std::wstring& b);

} // namespace ProcessSearch
