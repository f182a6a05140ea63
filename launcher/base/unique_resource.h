// One way to own a resource: a move-only owner that closes what it holds exactly once, and
// one line per kind of handle on top of it. Every close the launcher makes is in this file.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wtsapi32.h>
#include <objbase.h>

#include <utility>

namespace owner_detail {

// A kind: the handle's type, what "nothing held" looks like, and how to close one.
template <typename Handle, Handle Empty, auto Close>
struct Kind {
    using Pointer = Handle;
    static Pointer None() { return Empty; }
    static void Free(Pointer handle) { Close(handle); }
    static bool IsNone(Pointer handle) { return handle == Empty; }
};

inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseFindHandle(HANDLE handle) { FindClose(handle); }
inline void DeleteGdiObject(HGDIOBJ object) { DeleteObject(object); }
inline void DeleteMemoryDc(HDC dc) { DeleteDC(dc); }
inline void CloseInternetHandle(HINTERNET handle) { InternetCloseHandle(handle); }
inline void ReleaseCryptProvider(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
inline void DestroyCryptHash(HCRYPTHASH hash) { CryptDestroyHash(hash); }
inline void FreeGlobal(HGLOBAL block) { GlobalFree(block); }

// Kernel handles fail with null (most) or INVALID_HANDLE_VALUE (CreateFileW, snapshots):
// both are held as nothing.
struct KernelKind {
    using Pointer = HANDLE;
    static Pointer None() { return nullptr; }
    static void Free(Pointer handle) { CloseKernelHandle(handle); }
    static bool IsNone(Pointer handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
};

struct FindKind {
    using Pointer = HANDLE;
    static Pointer None() { return INVALID_HANDLE_VALUE; }
    static void Free(Pointer handle) { CloseFindHandle(handle); }
    static bool IsNone(Pointer handle) { return handle == INVALID_HANDLE_VALUE || handle == nullptr; }
};

// The terminal services functions' lists (WTSEnumerateProcessesW's).
struct WtsMemoryKind {
    using Pointer = void*;
    static Pointer None() { return nullptr; }
    static void Free(Pointer memory) { WTSFreeMemory(memory); }
    static bool IsNone(const void* memory) { return memory == nullptr; }
};

}  // namespace owner_detail

template <typename Kind>
class UniqueResource {
public:
    using Pointer = typename Kind::Pointer;

    UniqueResource() = default;
    explicit UniqueResource(Pointer handle) : m_handle(Kind::IsNone(handle) ? Kind::None() : handle) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_handle(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Pointer Get() const { return m_handle; }
    explicit operator bool() const { return !Kind::IsNone(m_handle); }

    // Closes what is held and takes `handle` instead.
    void Reset(Pointer handle = Kind::None())
    {
        if (!Kind::IsNone(m_handle))
            Kind::Free(m_handle);
        m_handle = Kind::IsNone(handle) ? Kind::None() : handle;
    }

    // Hands the handle over without closing it.
    Pointer Release() { return std::exchange(m_handle, Kind::None()); }

private:
    Pointer m_handle = Kind::None();
};

using UniqueHandle = UniqueResource<owner_detail::KernelKind>;
using UniqueFindHandle = UniqueResource<owner_detail::FindKind>;
using UniqueInternetHandle =
    UniqueResource<owner_detail::Kind<HINTERNET, nullptr, owner_detail::CloseInternetHandle>>;
using UniqueMemoryDc = UniqueResource<owner_detail::Kind<HDC, nullptr, owner_detail::DeleteMemoryDc>>;
using UniqueCryptProvider =
    UniqueResource<owner_detail::Kind<HCRYPTPROV, 0, owner_detail::ReleaseCryptProvider>>;
using UniqueCryptHash =
    UniqueResource<owner_detail::Kind<HCRYPTHASH, 0, owner_detail::DestroyCryptHash>>;
using UniqueGlobal = UniqueResource<owner_detail::Kind<HGLOBAL, nullptr, owner_detail::FreeGlobal>>;
// Memory the terminal services functions hand out (WTSEnumerateProcessesW's list).
using UniqueWtsMemory = UniqueResource<owner_detail::WtsMemoryKind>;

// GDI objects keep their own type, so that a font owner hands out an HFONT.
template <typename Object>
using UniqueGdiObject = UniqueResource<owner_detail::Kind<Object, nullptr, owner_detail::DeleteGdiObject>>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniquePalette = UniqueGdiObject<HPALETTE>;

// A DC borrowed from a window (null: the screen), given back on leaving the scope.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc()
    {
        if (m_dc)
            ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects an object into a DC and selects the one it replaced back on leaving the scope.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_kept(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject()
    {
        if (m_kept)
            SelectObject(m_dc, m_kept);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_kept;
};

// The same for a palette, which has a call of its own.
class SelectedPalette {
public:
    SelectedPalette(HDC dc, HPALETTE palette)
        : m_dc(dc), m_kept(palette ? SelectPalette(dc, palette, FALSE) : nullptr)
    {
        if (palette)
            RealizePalette(dc);
    }
    ~SelectedPalette()
    {
        if (m_kept)
            SelectPalette(m_dc, m_kept, FALSE);
    }
    SelectedPalette(const SelectedPalette&) = delete;
    SelectedPalette& operator=(const SelectedPalette&) = delete;

private:
    HDC m_dc;
    HPALETTE m_kept;
};

// The clipboard, open for one task and closed on leaving the scope.
class ClipboardSession {
public:
    explicit ClipboardSession(HWND owner) : m_open(OpenClipboard(owner) != FALSE) {}
    ~ClipboardSession()
    {
        if (m_open)
            CloseClipboard();
    }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;
    bool IsOpen() const { return m_open; }

private:
    bool m_open;
};

// A mutex this thread holds, released on leaving the scope. Held only when the wait that took
// it said so: WAIT_OBJECT_0, or WAIT_ABANDONED (its last holder ended without releasing it).
class HeldMutex {
public:
    HeldMutex() = default;
    HeldMutex(HANDLE mutex, DWORD waitResult)
        : m_mutex(waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED ? mutex : nullptr)
    {
    }
    ~HeldMutex() { Release(); }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;
    HeldMutex(HeldMutex&& other) noexcept : m_mutex(std::exchange(other.m_mutex, nullptr)) {}
    HeldMutex& operator=(HeldMutex&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_mutex = std::exchange(other.m_mutex, nullptr);
        }
        return *this;
    }
    explicit operator bool() const { return m_mutex != nullptr; }

private:
    void Release()
    {
        if (m_mutex)
            ReleaseMutex(std::exchange(m_mutex, nullptr));
    }

    HANDLE m_mutex = nullptr;
};

// COM on this thread, apartment-threaded, for as long as the scope lasts; left alone when the
// thread already had COM in another model (then it is not this scope's to end).
class ComApartment {
public:
    ComApartment()
        : m_initialized(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
    {
    }
    ~ComApartment()
    {
        if (m_initialized)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized;
};
