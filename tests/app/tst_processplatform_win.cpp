#include <cstdio>
#include <string>

#include <windows.h>

#include "WindowsChecks.h"
#include "app/ProcessPlatform.h"
#include "app/ProcessSearch.h"

// The housekeeping rules against the system's own process calls. A plain program (no Qt on the machines that
// cross-compile it): it prints one line per failed check and then "N passed, N failed".
namespace {

using WindowsChecks::check;
using WindowsChecks::ownPath;

std::wstring fileName(const std::wstring& path)
{
    return path.substr(path.find_last_of(L"\\/") + 1);
}

std::wstring upperCase(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z')
            c = wchar_t(c - L'a' + L'A');
    }
    return text;
}

// Another copy of this program that only waits to be ended.
bool startWaitingCopy(PROCESS_INFORMATION& started)
{
    const std::wstring path = ownPath();
    std::wstring commandLine = L"\"" + path + L"\" --wait";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started) != FALSE;
}

const ProcessEntry* waitForOtherCopy(ProcessPlatform& platform, std::vector<ProcessEntry>& entries,
                                     const std::wstring& name, DWORD ownId)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        entries = platform.processes();
        if (!entries.empty() && entries.front().id != 0)
            entries.insert(entries.begin(), ProcessEntry{0, L"[System Process]"});
        if (const ProcessEntry* copy = ProcessSearch::otherCopy(entries, name, ownId))
            return copy;
        Sleep(50);
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--wait") {
        Sleep(60000);
        return 3;
    }

    ProcessPlatform& platform = ProcessPlatform::system();
    const DWORD ownId = GetCurrentProcessId();
    const std::wstring name = fileName(ownPath());

    // List processes: this program is in the list under its executable's name.
    std::vector<ProcessEntry> entries = platform.processes();
    // Windows lists the idle process first, which the search skips; Wine lists no such entry.
    if (!entries.empty() && entries.front().id != 0)
        entries.insert(entries.begin(), ProcessEntry{0, L"[System Process]"});
    check(entries.size() >= 2, "the list holds more than the idle entry");
    const ProcessEntry* self = ProcessSearch::findNamed(entries, upperCase(name), false);
    check(self && self->id == ownId, "this program is found by its name in other letter case");
    check(!ProcessSearch::findNamed(entries, name + L".old", false), "a longer name is another program");

    // Refuse the own id: alone, this program is no other copy of itself.
    check(!ProcessSearch::otherCopy(entries, name, ownId), "the own process is never the other copy");

    // A second copy is found and ended, with exit code 0.
    PROCESS_INFORMATION copy = {};
    const bool started = startWaitingCopy(copy);
    check(started, "a second copy starts");
    if (started) {
        const ProcessEntry* found = waitForOtherCopy(platform, entries, name, ownId);
        // Anything else found would be this program itself: ending it would end the test.
        const bool isCopy = found && found->id == copy.dwProcessId;
        check(isCopy, "the second copy is the other copy");
        check(isCopy && platform.endProcess(found->id), "the other copy can be ended");
        check(WaitForSingleObject(copy.hProcess, 5000) == WAIT_OBJECT_0, "the other copy has ended");
        DWORD exitCode = 99;
        GetExitCodeProcess(copy.hProcess, &exitCode);
        check(exitCode == 0, "the other copy ended with exit code 0");
        if (!isCopy)
            TerminateProcess(copy.hProcess, 1);
        CloseHandle(copy.hThread);
        CloseHandle(copy.hProcess);
    }
    check(!platform.endProcess(0xFFFFFFF0u), "a process that does not exist cannot be ended");

    // The own file path, with "/" separators, from the drive on.
    const std::wstring module = platform.moduleFilePath();
    check(module.size() > 3 && module[1] == L':' && module[2] == L'/', "the own path starts with a drive");
    check(module.find(L'\\') == std::wstring::npos, "the own path has no backslash");
    check(fileName(module) == name, "the own path ends with the executable's name");

    // Without the logged-in user's shell nothing is started.
    check(!platform.startProcess(module, L"", nullptr), "no start without the user's shell");

    return WindowsChecks::report();
}
