#include "identification/drive_id_report.h"

const char* GetDriveIDStepName(EDriveIDStep eStep) {
    switch (eStep) {
        case kStepNone:
            return nullptr;
        case kStepWindowsDirectory:
            return "windows_directory";
        case kStepVolume:
            return "volume";
        case kStepRootCreation:
            return "root_created";
        case kStepMarkerKey:
            return "marker_key";
        case kStepMarkerValue:
            return "marker_value";
        case kStepMarkerWrite:
            return "marker_write";
        case kStepMemory:
            return "memory";
        case kStepMarkerLock:
            return "marker_lock";
        case kStepMarkerRandom:
            return "marker_random";
    }
    return nullptr;
}

const char* GetMarkerStateName(EMarkerState eState) {
    switch (eState) {
        case kMarkerPresent:
            return "present";
        case kMarkerCreated:
            return "created";
        case kMarkerUnusable:
            return "unusable";
        case kMarkerMissing:
            break;
    }
    return "missing";
}

const char* GetMarkerKeyTrustName(const CDriveIDReport& report) {
    if (!report.bMarkerKeyOpened)
        return nullptr;
    switch (report.eMarkerKey) {
        case kKeyTrusted:
            return "trusted";
        case kKeyLooseDacl:
        case kKeyForeignOwner:
            return "loose";
        case kKeyTrustUnknown:
            break;
    }
    return "unknown";
}
