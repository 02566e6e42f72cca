// Reference counting shared by the object implementations.
#pragma once

#include <atomic>

#include "platform/com/types.h"

namespace kiv {

// Objects are born with one reference, which belongs to whoever created
// them; the last Release deletes the object.
struct RefCount {
    std::atomic<ULONG> n{1};

    ULONG AddRef() { return ++n; }
    template <class T>
    ULONG Release(T* self) {
        ULONG left = --n;
        if (left == 0) delete self;
        return left;
    }
};

}  // namespace kiv
