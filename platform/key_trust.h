#pragma once

// JudgeKeySecurity: how far a registry key's owner and DACL let accounts other than LocalSystem
// (S-1-5-18), the Administrators group (S-1-5-32-544) and TrustedInstaller
// (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464) change the key itself.
//
// Works on the bytes of a self-relative security descriptor, as RegGetKeySecurity gives them,
// without any Windows call, so that the same rules run and are tested on every build. Only those
// three accounts count as administrators' own: the owner and every allowing ACE are judged by
// their SID alone, since which groups an account belongs to is not in the descriptor. An account
// that is an administrator but named by its own SID therefore shows as another account.
//
// The rules, for the key itself (an ACE marked inherit-only is for subkeys and is skipped):
// - no DACL at all grants everyone everything: loose;
// - an allowing ACE (also a conditional or object one) for any other SID that grants a right to
//   change the key (KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC,
//   WRITE_OWNER, or GENERIC_WRITE or GENERIC_ALL, which hold some of them) makes the DACL loose,
//   unless an earlier denying ACE for the same SID or for Everyone (S-1-1-0) already denied
//   those rights: the first ACE that names a right decides it, as in Windows' access check. A
//   deny for a group is not taken to cover its members: the members are not known. A deny for
//   Everyone does not cover ANONYMOUS LOGON (S-1-5-7), whose token need not hold Everyone;
// - an ACE of a type whose layout is not known (the reserved compound type 0x04, or any type
//   above 0x15) may grant anything to anyone: loose. Audit, alarm, label and the other types
//   that grant nothing are passed over, and so are conditional denies, which may not apply;
// - ACEs for CREATOR OWNER, CREATOR GROUP and OWNER RIGHTS grant nothing beyond the owner's own
//   rights on the key itself, and the owner is judged on its own;
// - an owner other than the three accounts may rewrite the DACL at will: a foreign owner, which
//   outweighs a loose DACL.
// Bytes that are not a well-formed self-relative descriptor with an owner give kKeyTrustUnknown.
//
// A pure function; safe on any thread.

#include <cstddef>

#include "platform/machine_facts.h"

EKeyTrust JudgeKeySecurity(const unsigned char* pDescriptor, std::size_t nSize);
