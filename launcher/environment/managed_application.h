// Names of the managed application and of its installer, and of the folders that hold them.
#pragma once

#include "base/brand.h"

inline constexpr wchar_t kVendorFolder[] = L"" LAUNCHER_BRAND_VENDOR_FOLDER;
inline constexpr wchar_t kProductFolder[] = L"" LAUNCHER_BRAND_PRODUCT_FOLDER;
inline constexpr wchar_t kApplicationExeName[] = L"" LAUNCHER_BRAND_APP_EXE;
inline constexpr wchar_t kSetupFileName[] = L"Setup.exe";
