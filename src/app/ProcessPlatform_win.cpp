#include "app/ProcessPlatform.h"

#include <cstdlib>
#include <cwchar>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <userenv.h>

namespace {

// The record sizes the 32-bit build hands to the system; a 64-bit build uses its own larger records.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32W) == 556, "process entry record");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68, "start-up information record");
static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAW) == 956, "notification icon record");

constexpr UINT kStaleTrayIconId = 1030;
constexpr DWORD kPathBuffer = 260;

std::wstring toForwardSlashes(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return path;
}

std::wstring toBackslashes(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

class WindowsProcessPlatform : public ProcessPlatform
{
public:
    ProcessConventions conventions() const override
    {
        ProcessConventions conventions;
        conventions.updaterName = L"AutoUpdate.exe";
        conventions.configuredUpdaterPath = L"./AutoUpdate.exe";
        conventions.shellProcessName = L"explorer.exe";
        conventions.maxPath = kPathBuffer;
        return conventions;
    }

    std::vector<ProcessEntry> processes() override
    {
        std::vector<ProcessEntry> entries;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return entries;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            ProcessEntry listed;
            listed.id = entry.th32ProcessID;
            listed.name = entry.szExeFile;
            entries.push_back(listed);
        }
        CloseHandle(snapshot);
        return entries;
    }

    bool endProcess(std::uint32_t id) override
    {
        HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (!process)
            return false;
        // The ended copy cannot remove its own notification icon; ask the shell to drop it so no dead icon stays.
        NOTIFYICONDATAW icon = {};
        icon.cbSize = sizeof(icon);
        icon.hWnd = taskbar;
        icon.uID = kStaleTrayIconId;
        icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        Shell_NotifyIconW(NIM_DELETE, &icon);
        TerminateProcess(process, 0);
        CloseHandle(process);
        return true;
    }

    std::wstring moduleFilePath() override
    {
        wchar_t path[kPathBuffer] = {};
        if (GetModuleFileNameW(nullptr, path, kPathBuffer) == 0)
            return std::wstring();
        wchar_t drive[_MAX_DRIVE] = {};
        wchar_t directory[_MAX_DIR] = {};
        wchar_t name[_MAX_FNAME] = {};
        wchar_t extension[_MAX_EXT] = {};
        if (_wsplitpath_s(path, drive, _MAX_DRIVE, directory, _MAX_DIR, name, _MAX_FNAME, extension, _MAX_EXT) != 0)
            return std::wstring();
        return toForwardSlashes(std::wstring(drive) + directory + name + extension);
    }

    bool startProcess(const std::wstring& application, const std::wstring& workingDirectory,
                      const ProcessEntry* shellProcess) override
    {
        if (!shellProcess)
            return false;
        HANDLE shell = OpenProcess(PROCESS_ALL_ACCESS, FALSE, shellProcess->id);
        if (!shell)
            return false;

        // Failures below leave null handles behind; the start then fails and is reported as such.
        HANDLE shellToken = nullptr;
        HANDLE userToken = nullptr;
        OpenProcessToken(shell, TOKEN_ALL_ACCESS, &shellToken);
        CloseHandle(shell);
        DuplicateTokenEx(shellToken, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &userToken);

        LPVOID environment = nullptr;
        const bool haveEnvironment = CreateEnvironmentBlock(&environment, userToken, FALSE) != FALSE;

        std::wstring applicationName = toBackslashes(application);
        std::wstring currentDirectory = toBackslashes(workingDirectory);
        wchar_t desktop[] = L"WinSta0\\Default";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.lpDesktop = desktop;
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION started = {};
        const BOOL ok =
            CreateProcessAsUserW(userToken, applicationName.c_str(), nullptr, nullptr, nullptr, FALSE,
                                 CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS, environment,
                                 currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &started);

        if (shellToken)
            CloseHandle(shellToken);
        if (userToken)
            CloseHandle(userToken);
        if (haveEnvironment)
            DestroyEnvironmentBlock(environment);
        if (!ok)
            return false;
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        return true;
    }
};

} // namespace

ProcessPlatform& ProcessPlatform::system()
{
    static WindowsProcessPlatform platform;
    return platform;
}
