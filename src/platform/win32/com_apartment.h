#pragma once
// COM on the calling thread, in a single-threaded apartment, for the scope of one object (the
// folder browser and OleLoadPicture want it). Left alone when the thread has COM another way.

#include "platform/win32/windows_h.h"

#include <objbase.h>

namespace qn::win32 {

class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_;
};

}  // namespace qn::win32
