// The built-in value types of CVeltraneList.
#include <new>

#include "support/veltrane_list.h"
#include "support/veltrane_string.h"

namespace {

// Behaviour shared by the built-in types; Traits::Assign and Traits::Equal see non-null values.
template <typename TValue, typename Traits>
bool RunValueType(int nOperation, void** ppSlot, const void* pValue) {
    if (ppSlot == nullptr) {
        return false;
    }
    switch (nOperation) {
        case VALUE_TYPE_CREATE:
            *ppSlot = new (std::nothrow) TValue();
            return true;
        case VALUE_TYPE_DESTROY:
            delete static_cast<TValue*>(*ppSlot);
            *ppSlot = nullptr;
            return true;
        case VALUE_TYPE_ASSIGN:
            // An empty slot has nothing to copy into.
            if (pValue == nullptr || *ppSlot == nullptr) {
                return false;
            }
            return Traits::Assign(*static_cast<TValue*>(*ppSlot),
                                  *static_cast<const TValue*>(pValue));
        case VALUE_TYPE_EQUAL:
            if (pValue == nullptr || *ppSlot == nullptr) {
                return false;
            }
            return Traits::Equal(*static_cast<const TValue*>(*ppSlot),
                                 *static_cast<const TValue*>(pValue));
        default:
            return false;
    }
}

struct PlainTraits {
    template <typename T>
    static bool Assign(T& target, const T& source) {
        target = source;
        return true;
    }
    template <typename T>
    static bool Equal(const T& left, const T& right) {
        return left == right;
    }
};

struct PairTraits {
    static bool Assign(VELTRANE_PAIR& target, const VELTRANE_PAIR& source) {
        target = source;
        return true;
    }
    static bool Equal(const VELTRANE_PAIR& left, const VELTRANE_PAIR& right) {
        return left.nFirst == right.nFirst && left.nSecond == right.nSecond;
    }
};

struct StringTraits {
    static bool Assign(CVeltraneString& target, const CVeltraneString& source) {
        // Assigning a string to itself is refused by the string, yet nothing is left to copy.
        return &target == &source || target.Assign(source);
    }
    static bool Equal(const CVeltraneString& left, const CVeltraneString& right) {
        return left.IsEqual(right);
    }
};

}  // namespace

bool CVeltraneList::IntegerValueType(int nOperation, void** ppSlot, const void* pValue) {
    return RunValueType<int32_t, PlainTraits>(nOperation, ppSlot, pValue);
}

bool CVeltraneList::PairValueType(int nOperation, void** ppSlot, const void* pValue) {
    return RunValueType<VELTRANE_PAIR, PairTraits>(nOperation, ppSlot, pValue);
}

bool CVeltraneList::DoubleValueType(int nOperation, void** ppSlot, const void* pValue) {
    return RunValueType<double, PlainTraits>(nOperation, ppSlot, pValue);
}

bool CVeltraneList::StringValueType(int nOperation, void** ppSlot, const void* pValue) {
    return RunValueType<CVeltraneString, StringTraits>(nOperation, ppSlot, pValue);
}
