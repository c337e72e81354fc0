#include <cstdio>
#include <fstream>
#include <string>

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include "WindowsChecks.h"
#include "app/AccountIdentity.h"

// Who runs the program, as the channel between its copies is named from it, against the system's own calls. A
// plain program (no Qt on the machines that cross-compile it): it prints one line per failed check and then
// "N passed, N failed".
namespace {

using WindowsChecks::check;
using WindowsChecks::ownPath;

std::wstring tempFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, path);
    return path;
}

std::wstring withForwardSlashes(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return path;
}

// The account an id in SID form names, as the system's account database knows it; empty when it names none.
std::wstring accountNamed(const std::string& id)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(id.c_str(), &sid))
        return std::wstring();
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use = SidTypeUnknown;
    const BOOL found = LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use);
    LocalFree(sid);
    return found && use == SidTypeUser ? std::wstring(name) : std::wstring();
}

// The ids as another copy of this program sees them: started with this program's environment as it is now.
bool idsOfAnotherCopy(std::string& accountId, std::string& processTableId)
{
    const std::wstring path = ownPath();
    const std::wstring answer = tempFolder() + L"ambrel-ids-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::wstring commandLine = L"\"" + path + L"\" --print \"" + answer + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        return false;
    const bool ended = WaitForSingleObject(started.hProcess, 30000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(started.hProcess, 1);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    std::ifstream file(answer.c_str());
    const bool read = ended && std::getline(file, accountId) && std::getline(file, processTableId);
    file.close();
    DeleteFileW(answer.c_str());
    return read;
}

int printIds()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3)
        return 2;
    std::ofstream file(arguments[2]);
    file << AccountIdentity::accountId() << '\n' << AccountIdentity::processTableId() << '\n';
    LocalFree(arguments);
    return file ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--print")
        return printIds();

    // The account's id is its SID, and names this very account in the system's account database.
    const std::string id = AccountIdentity::accountId();
    wchar_t userName[256] = {};
    DWORD userNameLength = 256;
    GetUserNameW(userName, &userNameLength);
    check(id.compare(0, 4, "S-1-") == 0 && id.find_first_not_of("S-0123456789") == std::string::npos,
          "the account's id is a SID");
    check(!accountNamed(id).empty() && accountNamed(id) == userName, "the account's id names this account");

    // The process table is the desktop session, given as digits.
    const std::string table = AccountIdentity::processTableId();
    check(!table.empty() && table.find_first_not_of("0123456789") == std::string::npos,
          "the process table's id is a number");

    // Anyone can set USERNAME: a copy of the same account started with another name in it, or this program after
    // changing it, still shares the channel; and another copy in the same session shares the process table.
    SetEnvironmentVariableW(L"USERNAME", L"someone-else");
    check(AccountIdentity::accountId() == id, "USERNAME changed here: the same account's id");
    std::string otherId;
    std::string otherTable;
    const bool answered = idsOfAnotherCopy(otherId, otherTable);
    check(answered, "another copy tells its ids");
    check(answered && otherId == id, "another copy started with another USERNAME: the same account's id");
    check(answered && otherTable == table, "another copy in the same session: the same process table");

    // The folder for the lock: one made in the account's temporary folder is the account's own, also written
    // with "/" separators and short names (as Qt and TEMP write it); the Windows folder and a file are not.
    const std::wstring folder = tempFolder() + L"ambrel-identity-" + std::to_wstring(GetCurrentProcessId());
    AccountIdentity::makeOwnerOnlyFolder(withForwardSlashes(folder));
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
    check(AccountIdentity::isOwnerOnlyFolder(withForwardSlashes(folder)) && shortLength > 0 &&
              AccountIdentity::isOwnerOnlyFolder(withForwardSlashes(shortName)),
          "a folder made in the account's temporary folder is the account's");
    const std::wstring file = folder + L"\\lock";
    HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (created != INVALID_HANDLE_VALUE)
        CloseHandle(created);
    wchar_t windowsFolder[MAX_PATH] = {};
    GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    check(created != INVALID_HANDLE_VALUE && !AccountIdentity::isOwnerOnlyFolder(file), "a file is no folder");
    check(!AccountIdentity::isOwnerOnlyFolder(windowsFolder), "the Windows folder is not the account's");
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());

    return WindowsChecks::report();
}
