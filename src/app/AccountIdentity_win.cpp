#include "app/AccountIdentity.h"

#include <vector>

#include <windows.h>
#include <sddl.h>
#include <userenv.h>

namespace {

class TokenHandle
{
public:
    TokenHandle()
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &m_handle))
            m_handle = nullptr;
    }
    ~TokenHandle()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;

    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle = nullptr;
};

// A path in one form, whatever way it was written: full, "\" separators, long names (a temporary folder is often
// named with short 8.3 names), no trailing separator. Empty when the path does not exist.
std::wstring comparablePath(const std::wstring& path)
{
    const DWORD fullLength = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (fullLength == 0)
        return std::wstring();
    std::vector<wchar_t> full(fullLength);
    if (GetFullPathNameW(path.c_str(), fullLength, full.data(), nullptr) == 0)
        return std::wstring();
    const DWORD longLength = GetLongPathNameW(full.data(), nullptr, 0);
    if (longLength == 0)
        return std::wstring();
    std::vector<wchar_t> longPath(longLength);
    if (GetLongPathNameW(full.data(), longPath.data(), longLength) == 0)
        return std::wstring();
    std::wstring result(longPath.data());
    for (wchar_t& c : result) {
        if (c == L'/')
            c = L'\\';
    }
    while (result.size() > 3 && result.back() == L'\\')
        result.pop_back();
    return result;
}

// Whether `path` lies inside `folder`, both in comparablePath() form; file names ignore letter case here.
bool liesInside(const std::wstring& path, const std::wstring& folder)
{
    if (folder.empty() || path.size() <= folder.size() + 1 || path[folder.size()] != L'\\')
        return false;
    const int length = static_cast<int>(folder.size());
    return CompareStringOrdinal(path.c_str(), length, folder.c_str(), length, TRUE) == CSTR_EQUAL;
}

std::wstring profileFolder()
{
    TokenHandle token;
    if (!token.get())
        return std::wstring();
    DWORD length = 0;
    GetUserProfileDirectoryW(token.get(), nullptr, &length);
    if (length == 0)
        return std::wstring();
    std::vector<wchar_t> folder(length);
    if (!GetUserProfileDirectoryW(token.get(), folder.data(), &length))
        return std::wstring();
    return folder.data();
}

} // namespace

std::string AccountIdentity::accountId()
{
    TokenHandle token;
    if (!token.get())
        return std::string();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::string();
    // Held in pointer-sized cells: the record starts with a pointer.
    std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*));
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return std::string();
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user->User.Sid, &text))
        return std::string();
    // A SID as text is "S-", digits and "-" only.
    std::string id;
    for (const wchar_t* c = text; *c; ++c)
        id += static_cast<char>(*c);
    LocalFree(text);
    return id;
}

std::string AccountIdentity::processTableId()
{
    // The desktop session. A school's terminal server may log several teachers in under one shared account, each
    // at a screen of their own: a copy in another session is someone else's and must not be asked to quit. Should
    // two sessions share a working folder, the folder's lock keeps one copy waiting, as between two machines.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return std::string();
    return std::to_string(session);
}

bool AccountIdentity::channelIsFile()
{
    return false;
}

bool AccountIdentity::isOwnerOnlyFolder(const std::wstring& path)
{
    // The account's profile folder admits only the account, SYSTEM and the administrators, and what is made inside
    // inherits that; its temporary folder lies there. A folder elsewhere (a shared C:\Temp) is not taken, nor a
    // link or junction, which another account could point anywhere.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return liesInside(comparablePath(path), comparablePath(profileFolder()));
}

void AccountIdentity::makeOwnerOnlyFolder(const std::wstring& path)
{
    // Its access list is inherited from the folder above, which isOwnerOnlyFolder() judges by where it lies.
    CreateDirectoryW(path.c_str(), nullptr);
}
