#pragma once

#include <string>

// Who runs this process, as the channel between copies of the program needs it: copies of one account in one
// process table share a channel; a copy of another account, or in another process table, is never asked to quit.
// Kept free of Qt so that the Windows implementation compiles and is tested on its own with the Windows cross
// compiler.
namespace AccountIdentity {

// The account's real id as the system knows it: the real user id on Linux, the user SID of the process token on
// Windows ("S-1-5-21-…"). Never a name from the environment ($USER, %USERNAME%): anyone can set those, and two
// accounts of two domains can share a name. Empty when the system does not tell.
std::string accountId();

// The process table this process runs in, as digits: copies in another one (a demo, a test run, another desktop
// session on Windows) get a channel of their own. Empty when unknown.
std::string processTableId();

// Whether the account's local channel is a file that a folder only the account may enter keeps from other
// accounts (a Unix socket); where it is not (a Windows named pipe: one name space for the whole machine), the
// channel's name itself must carry the account.
bool channelIsFile();

// Whether only this account may enter the folder, so that it may hold the account's lock and channel: another
// account could otherwise put a channel or a lock of its own there.
bool isOwnerOnlyFolder(const std::wstring& path);

// Makes a folder for the account's lock and channel that only the account may enter; what the system made is
// judged by isOwnerOnlyFolder() afterwards, so a folder that already exists is left as it is.
void makeOwnerOnlyFolder(const std::wstring& path);

} // namespace AccountIdentity
