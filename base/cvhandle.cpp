#include "base/cvhandle.h"

#include <objbase.h>

CvComScope::CvComScope() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

CvComScope::~CvComScope()
{
    if (SUCCEEDED(hr_)) ::CoUninitialize();  // S_FALSE too: it counted once more
}

bool CvComScope::usable() const noexcept { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
