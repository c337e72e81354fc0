#include "app/ProcessSearch.h"

namespace {

wchar_t foldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

} // namespace

namespace ProcessSearch {

const ProcessEntry* otherCopy(const std::vector<ProcessEntry>& entries, const std::wstring& executableName,
                              std::int64_t ownProcessId, const std::function<bool(std::uint32_t id)>& isCopy)
{
    // The list's first entry is the system's idle process, never a copy of ours.
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const ProcessEntry& entry = entries[i];
        if (entry.name.find(executableName) != std::wstring::npos &&
            static_cast<std::int64_t>(entry.id) != ownProcessId && (!isCopy || isCopy(entry.id)))
            return &entry;
    }
    return nullptr;
}

const ProcessEntry* findNamed(const std::vector<ProcessEntry>& entries, const std::wstring& name, bool skipFirst)
{
    for (std::size_t i = skipFirst ? 1 : 0; i < entries.size(); ++i) {
        if (sameNameIgnoringCase(entries[i].name, name))
            return &entries[i];
    }
    return nullptr;
}

bool sameNameIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    }
    return true;
}

} // namespace ProcessSearch
