#pragma once

// The machine facts of the ID tests' worked example, with the texts and IDs they give, so that
// every test of the derivation and of the console program states the same expectations.

#include "platform/machine_facts.h"

// 4 March 2019, 09:05:07.042 UTC: when the system drive's root was created.
inline constexpr VFILETIME kRootCreated = 131961639070420000ULL;
inline constexpr char kRootCreatedText[] = "Monday March 04 2019 (03_04_2019) 09:05:07:42";
// 5 November 2024, 17:45:30.007 UTC: the scripted clock.
inline constexpr VFILETIME kNow = 133753023300070000ULL;
// The marker made from the scripted random source's first bytes (kScriptedRandom).
inline constexpr char kNewMarker[] = "709076cb38fa1a58ae514ea1911281ee";

// A marker stored by hand, and the IDs the worked example's volume (5A3C00F1, NTFS) gives with
// each marker.
inline constexpr char kHandMarker[] = "0123456789abcdef0123456789abcdef";
inline constexpr char kIDWithHandMarker[] = "1d7f953db6e0a9ab13df78aa1db9f3b8";
inline constexpr char kIDWithNewMarker[] = "5b2af0c63ec8f6bc7aa0854cd0ae01c6";
