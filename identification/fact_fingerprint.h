#pragma once

// Short fingerprints of the machine facts that go into the computer ID, for reports that people
// paste into support tickets. Two reports of one machine can be compared fact by fact, yet a
// report says little about a fact itself: each fingerprint keeps 10 bits, so that an outsider
// who holds a report and the ID still has about 2^64 combinations of facts to try (README,
// "What a report gives away"). A change of a fact is missed once in 1024.
//
//   fingerprint = the first 10 bits of HMAC-SHA256(key = "idrovan fact fingerprint 1",
//                                                  message = fact name, a zero byte, fact text)
//
// written as 3 lowercase hexadecimal digits ("000" to "3ff"). The key is published and fixed: it
// keeps these digests apart from any other use of the hash, not secret. The fact names are
// "root_created" and "volume"; the text is the fact's bytes exactly as they go into the ID.
// Saved reports hold these values, so the formula is fixed for good.
//
// Plain functions without state; safe on any thread.

#include <cstddef>

enum EFact {
    kFactRootCreated,
    kFactVolume,
};

const std::size_t kFactFingerprintLength = 3;

// Writes the fingerprint and a terminator to szFingerprint. False, with an empty text there, when
// the text is null or empty (a fact that was not read has no fingerprint) or the platform's
// HMAC-SHA256 failed.
bool ComputeFactFingerprint(EFact eFact, const char* pText, std::size_t nLength,
                            char (&szFingerprint)[kFactFingerprintLength + 1]);
