#pragma once

#include <set>
#include <string>

#include "app/ProcessPlatform.h"

// A process table held in memory, with Windows' names and limits unless a test changes them.
class FakeProcessPlatform : public ProcessPlatform
{
public:
    struct Start
    {
        std::wstring application;
        std::wstring workingDirectory;
        bool withShell = false;
        std::uint32_t shellId = 0;
    };

    FakeProcessPlatform()
    {
        m_conventions.updaterName = L"AutoUpdate.exe";
        m_conventions.configuredUpdaterPath = L"./AutoUpdate.exe";
        m_conventions.shellProcessName = L"explorer.exe";
        m_conventions.maxPath = 260;
    }

    ProcessConventions conventions() const override { return m_conventions; }
    std::vector<ProcessEntry> processes() override { return m_entries; }

    bool endProcess(std::uint32_t id) override
    {
        calls.push_back("end " + std::to_string(id));
        openAttempts.push_back(id);
        if (unopenable.count(id))
            return false;
        ended.push_back(id);
        return true;
    }

    std::wstring moduleFilePath() override { return m_moduleFilePath; }

    bool startProcess(const std::wstring& application, const std::wstring& workingDirectory,
                      const ProcessEntry* shellProcess) override
    {
        calls.push_back("start");
        starts.push_back(
            Start{application, workingDirectory, shellProcess != nullptr, shellProcess ? shellProcess->id : 0});
        return startable.count(application) > 0;
    }

    void addProcess(std::uint32_t id, const std::wstring& name) { m_entries.push_back(ProcessEntry{id, name}); }

    ProcessConventions m_conventions;
    std::vector<ProcessEntry> m_entries;
    std::wstring m_moduleFilePath;
    std::set<std::uint32_t> unopenable;
    std::set<std::wstring> startable;

    std::vector<std::uint32_t> openAttempts;
    std::vector<std::uint32_t> ended;
    std::vector<Start> starts;
    // "end <id>" and "start", in the order they happened.
    std::vector<std::string> calls;
};
