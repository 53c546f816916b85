// idrovan.dll's exported functions: the calls of api/library_calls.h on this machine's own
// facts. No C++ exception can unwind into a caller written in another language: the DLL's code
// is built without exceptions and allocates without throwing (api/CMakeLists.txt). The DLL has
// no DllMain of its own; loading it runs only the C runtime's own start-up.
#include "include/idrovan.h"

#include "api/library_calls.h"

extern "C" {

int IDROVAN_CALL idrovan_get_computer_id(unsigned int flags, char* id, unsigned int id_size,
                                         unsigned int* needed, idrovan_detail* detail) {
    return GetComputerIDOn(GetDefaultMachineFacts(), flags, id, id_size, needed, detail);
}

int IDROVAN_CALL idrovan_get_application_id(const char* application, unsigned int flags, char* id,
                                            unsigned int id_size, unsigned int* needed,
                                            idrovan_detail* detail) {
    return GetApplicationIDOn(GetDefaultMachineFacts(), application, flags, id, id_size, needed,
                              detail);
}

int IDROVAN_CALL idrovan_verify_computer_id(const char* id, idrovan_detail* detail) {
    return VerifyComputerIDOn(GetDefaultMachineFacts(), id, detail);
}

int IDROVAN_CALL idrovan_verify_application_id(const char* application, const char* id,
                                               idrovan_detail* detail) {
    return VerifyApplicationIDOn(GetDefaultMachineFacts(), application, id, detail);
}

int IDROVAN_CALL idrovan_verify_licence(const char* licence, unsigned int licence_size,
                                        const char* application, const char* feature,
                                        const char* public_keys, const char* now,
                                        idrovan_licence_info* info) {
    return VerifyLicenceOn(GetDefaultMachineFacts(), licence, licence_size, application, feature,
                           public_keys, now, info);
}

int IDROVAN_CALL idrovan_get_version(char* version, unsigned int version_size,
                                     unsigned int* needed) {
    return GetLibraryVersion(version, version_size, needed);
}

const char* IDROVAN_CALL idrovan_result_text(int result) {
    return GetResultText(result);
}

}  // extern "C"
