#pragma once

// What each function of idrovan.dll does (include/idrovan.h states the contract), over any
// machine facts: the DLL passes the real ones, the tests a scripted machine. Checks every
// argument before anything is derived, so that a bad call neither reads nor writes the registry;
// derives through CDriveID, exactly as the programs do, and maps the outcome to the result codes
// as the console maps it to its exit codes.
//
// Threading: each call makes its own CDriveID on the stack and keeps nothing; the machine facts
// object must be one that several threads may use at once (GetDefaultMachineFacts() is). No C++
// exception is thrown here: the DLL builds this code without exceptions (api/CMakeLists.txt).

#include "include/idrovan.h"
#include "platform/machine_facts.h"

int GetComputerIDOn(CMachineFacts& machine, unsigned int nFlags, char* pszID, unsigned int nSize,
                    unsigned int* pnNeeded, idrovan_detail* pDetail);

int GetApplicationIDOn(CMachineFacts& machine, const char* pszApplication, unsigned int nFlags,
                       char* pszID, unsigned int nSize, unsigned int* pnNeeded,
                       idrovan_detail* pDetail);

int VerifyComputerIDOn(CMachineFacts& machine, const char* pszID, idrovan_detail* pDetail);

int VerifyApplicationIDOn(CMachineFacts& machine, const char* pszApplication, const char* pszID,
                          idrovan_detail* pDetail);

// idrovan_verify_licence over the machine's facts: the licence check of api/licence/ with the
// platform's ECDSA (platform/ecdsa_p256.h), the application ID derived read-only, and the
// machine's clock.
int VerifyLicenceOn(CMachineFacts& machine, const char* pszLicence, unsigned int nLicenceSize,
                    const char* pszApplication, const char* pszFeature, const char* pszPublicKeys,
                    const char* pszNow, idrovan_licence_info* pInfo);

int GetLibraryVersion(char* pszVersion, unsigned int nSize, unsigned int* pnNeeded);

// idrovan_result_text: a static English text for any result code, never null.
const char* GetResultText(int nResult);
