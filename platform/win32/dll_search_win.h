#pragma once

// RestrictDllSearchToSystem32: makes System32 the only folder where this process looks for a DLL
// named without a path: SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32). The loader
// applies the process's default search order to every DLL loaded later, also to those that
// system DLLs load for themselves (shell32 loads uxtheme.dll and others only when they are first
// needed), so without this a DLL of one of those names put beside the program would be taken
// first. The programs call it first thing in their entry, before anything else is loaded.
// idrovan.dll never calls it: it would change its host's process.
//
// The function is looked up at run time: Windows 7 and Server 2008 R2 have it only with update
// KB2533623, and Microsoft's documentation of SetDefaultDllDirectories says to find it there with
// GetProcAddress in kernel32.dll (read, not seen). Returns true when the search is restricted;
// false without the function or when it failed, and the process keeps the standard order.
//
// Call once, on the main thread, before any other thread starts.

bool RestrictDllSearchToSystem32();
