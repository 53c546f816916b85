// Shared by the two implementations of platform/threads.h: whether the creation under way is
// one that a test asked to fail (VFailEventCreations, VFailThreadCreations).
#ifndef IDROVAN_PLATFORM_THREADS_SEAM_H
#define IDROVAN_PLATFORM_THREADS_SEAM_H

bool VTakeEventCreationFailure();
bool VTakeThreadCreationFailure();

#endif
