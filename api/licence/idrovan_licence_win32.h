/* idrovan_licence_win32.h: ready services for idrovan_licence_check in a Windows program that
   compiles the check in (docs/licence.md): CNG from System32, idrovan.dll's read-only application
   ID, the system clock. Needs Windows 10 or later (BCryptHash). Stateless; any thread. */
#ifndef IDROVAN_LICENCE_WIN32_H
#define IDROVAN_LICENCE_WIN32_H

#include "idrovan_licence.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Static: never null, never to be freed. */
const idrovan_licence_services* idrovan_licence_windows_services(void);

#ifdef __cplusplus
}
#endif

#endif /* IDROVAN_LICENCE_WIN32_H */
