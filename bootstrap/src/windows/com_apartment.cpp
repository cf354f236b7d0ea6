#include "windows/com_apartment.hpp"

#include <objbase.h>

#include <utility>

namespace vantrel {

ComResult<ComApartment> ComApartment::enter_single_threaded() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result))
        return ComFailure{result};
    return ComApartment();
}

ComApartment::~ComApartment() {
    if (entered_)
        CoUninitialize();
}

ComApartment::ComApartment(ComApartment&& other) noexcept
    : entered_(std::exchange(other.entered_, false)) {}

}  // namespace vantrel
