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
// Plain functions without state; safe on any thread.

const int kApplicationIDLength = 32;

// Writes the application's ID and a terminator to the kApplicationIDLength + 1 chars at pszID.
// The computer ID may be given in either case; the key is always its lowercase form. False, with
// an empty text at pszID, when the computer ID is not 32 hexadecimal digits, the application
// name is null or empty, or the platform's HMAC-SHA256 failed.
bool DeriveApplicationID(const char* pszComputerID, const char* pszApplication, char* pszID);
