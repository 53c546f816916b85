// idrovan.dll's exported functions: the calls of api/library_calls.h on this machine's own
// facts. No C++ exception may unwind into a caller written in another language, so each call
// catches whatever escapes and answers IDROVAN_FAILURE. The DLL has no DllMain of its own.
#include "include/idrovan.h"

#include "api/library_calls.h"

namespace {

// The failure that an exception stands for. The calls below allocate without throwing; should
// the C++ runtime still throw, it can only be std::bad_alloc: out of memory, and no ID.
int Failed(idrovan_detail* pDetail) {
    if (pDetail != nullptr && pDetail->size == sizeof(idrovan_detail)) {
        pDetail->step = IDROVAN_STEP_MEMORY;
        pDetail->status = 8;  // ERROR_NOT_ENOUGH_MEMORY
        pDetail->marker = IDROVAN_MARKER_MISSING;
    }
    return IDROVAN_FAILURE;
}

}  // namespace

extern "C" {

int IDROVAN_CALL idrovan_get_computer_id(unsigned int flags, char* id, unsigned int id_size,
                                         unsigned int* needed, idrovan_detail* detail) {
    try {
        return GetComputerIDOn(GetDefaultMachineFacts(), flags, id, id_size, needed, detail);
    } catch (...) {
        return Failed(detail);
    }
}

int IDROVAN_CALL idrovan_get_application_id(const char* application, unsigned int flags, char* id,
                                            unsigned int id_size, unsigned int* needed,
                                            idrovan_detail* detail) {
    try {
        return GetApplicationIDOn(GetDefaultMachineFacts(), application, flags, id, id_size, needed,
                                  detail);
    } catch (...) {
        return Failed(detail);
    }
}

int IDROVAN_CALL idrovan_verify_computer_id(const char* id, idrovan_detail* detail) {
    try {
        return VerifyComputerIDOn(GetDefaultMachineFacts(), id, detail);
    } catch (...) {
        return Failed(detail);
    }
}

int IDROVAN_CALL idrovan_verify_application_id(const char* application, const char* id,
                                               idrovan_detail* detail) {
    try {
        return VerifyApplicationIDOn(GetDefaultMachineFacts(), application, id, detail);
    } catch (...) {
        return Failed(detail);
    }
}

int IDROVAN_CALL idrovan_get_version(char* version, unsigned int version_size,
                                     unsigned int* needed) {
    return GetLibraryVersion(version, version_size, needed);
}

const char* IDROVAN_CALL idrovan_result_text(int result) {
    return GetResultText(result);
}

}  // extern "C"
