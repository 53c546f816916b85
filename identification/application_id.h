#pragma once

// An application's own ID for this computer. Several vendors may identify machines with this
// tool; each gets an ID of its own that can neither be turned back into the computer ID nor be
// matched with another application's ID for the same machine:
//
//   HMAC-SHA256(key = the computer ID's 32 lowercase hexadecimal digits as ASCII bytes,
//               message = the application name's bytes),
//   cut to its first 16 bytes and written as 32 lowercase hexadecimal digits.
//
// A vendor's server computes the same value from the computer ID and its application name, so
// this formula is fixed for good, like the computer ID's own derivation.
//
// The name is UTF-8, everywhere: the DLL takes it as given, idrovan-cli turns its UTF-16 argument
// into UTF-8, and the server encodes it the same way, so that "Caf\u00e9" has one ID. Which names
// are accepted is decided here alone (IsApplicationName), for the DLL and the console alike.
//
// Plain functions without state; safe on any thread.

#include <cstddef>

const int kApplicationIDLength = 32;

// The longest application name, in bytes of UTF-8 without the terminator.
const std::size_t kMaxApplicationNameBytes = 1024;

// True for a name that may be given an ID: 1 to kMaxApplicationNameBytes bytes of valid UTF-8
// (shortest form, no surrogate, nothing above U+10FFFF, no sequence cut short) that hold no
// control character: none of C0 (U+0000-U+001F), DEL (U+007F) or C1 (U+0080-U+009F), which
// cannot be typed or seen and which text with the wrong encoding brings along. Reads at most
// kMaxApplicationNameBytes + 1 bytes of pszName; false for null.
bool IsApplicationName(const char* pszName);

// Writes the application's ID and a terminator to the kApplicationIDLength + 1 chars at pszID.
// The computer ID may be given in either case; the key is always its lowercase form. False, with
// an empty text at pszID, when the computer ID is not 32 hexadecimal digits, the application
// name is null or empty, or the platform's HMAC-SHA256 failed. The name's bytes are hashed as
// they are: callers check them with IsApplicationName first.
bool DeriveApplicationID(const char* pszComputerID, const char* pszApplication, char* pszID);
