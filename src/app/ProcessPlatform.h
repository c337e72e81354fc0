#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What process housekeeping needs of the operating system. Kept free of Qt so that the Windows implementation
// compiles on its own with the Windows cross compiler.
struct ProcessEntry
{
    std::uint32_t id = 0;
    // The executable's file name, without folders.
    std::wstring name;
};

// Names and limits that differ between systems.
struct ProcessConventions
{
    // The updater's executable name, compared ignoring letter case.
    std::wstring updaterName;
    // Where the updater lies; a leading "./" means the program's own folder.
    std::wstring configuredUpdaterPath;
    // The logged-in user's shell whose token starts the updater; empty where a process is started as is.
    std::wstring shellProcessName;
    // Longest path including its terminator; longer paths are cut to fit.
    std::size_t maxPath = 260;
};

class ProcessPlatform
{
public:
    virtual ~ProcessPlatform() = default;

    virtual ProcessConventions conventions() const = 0;
    // The running processes in the system's order; empty when they cannot be listed.
    virtual std::vector<ProcessEntry> processes() = 0;
    // Ends a process; false when it cannot be opened for ending.
    virtual bool endProcess(std::uint32_t id) = 0;
    // Whether a process that carries our name may be ended as another copy of this program. Where the system
    // gives nothing better the name decides.
    virtual bool isCopyOfThisProgram(std::uint32_t id)
    {
        (void)id;
        return true;
    }
    // The running executable's full path with "/" separators; empty when unknown.
    virtual std::wstring moduleFilePath() = 0;
    // Starts a program in a working folder, as the user of the shell process when one is given; false on failure.
    virtual bool startProcess(const std::wstring& application, const std::wstring& workingDirectory,
                              const ProcessEntry* shellProcess) = 0;

    // The running system's implementation, created on first use and kept for the process's life.
    static ProcessPlatform& system();
};
