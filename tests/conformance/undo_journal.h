#pragma once

// The undo journal of --disposable-machine: every change a check makes to the machine is written
// here, and flushed, before the change is made, so that a run cut short (a crash, Ctrl+C, a
// killed check) can still be undone with --cleanup. The journal is a text file, one change a
// line: "key64 <path>" (a key under HKEY_LOCAL_MACHINE, 64-bit view, deleted with its subkeys),
// "userkey <path>" (the same under HKEY_CURRENT_USER), "user <name>" (a local account,
// deleted), "service <name>" (a service, stopped and deleted), "msi <path>" (a package installed
// from it, removed) or "timezone <hex>" (the system's time zone as it was, set back). Replaying
// undoes the lines last first; undoing what is already gone counts as done, so replaying twice is
// harmless.
//
// Checks (child processes) append; the parent replays once they are all done. Not for two
// replays at once.

#include <string>

// Appends one change; false when it could not be written, and then the change must not be made.
bool JournalKeyToDelete(const std::string& strJournal, const std::string& strHklmPath);
bool JournalUserKeyToDelete(const std::string& strJournal, const std::string& strHkcuPath);
// The time zone now, to be set back.
bool JournalTimeZoneToRestore(const std::string& strJournal);
// SetDynamicTimeZoneInformation with the privilege it needs enabled; false with the last error.
bool SetSystemTimeZone(const void* pDynamicInformation);
bool JournalUserToDelete(const std::string& strJournal, const std::string& strUser);
bool JournalServiceToDelete(const std::string& strJournal, const std::string& strService);
bool JournalMsiToRemove(const std::string& strJournal, const std::string& strMsi);
// True when the journal exists and holds a change.
bool JournalHasEntries(const std::string& strJournal);
// Undoes every change, last first, saying each on stdout with the given prefix; deletes the
// journal when all were undone. False when one could not be undone (the journal is kept).
bool ReplayJournal(const std::string& strJournal, const char* pszPrefix);
