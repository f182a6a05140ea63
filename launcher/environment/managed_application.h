// Names of the managed application and of its installer, and of the folders that hold them.
#pragma once

inline constexpr wchar_t kVendorFolder[] = L"Osker";
inline constexpr wchar_t kProductFolder[] = L"Osker Map Updater";
inline constexpr wchar_t kApplicationExeName[] = L"Osker Map Updater.exe";
inline constexpr wchar_t kSetupFileName[] = L"Setup.exe";
