// Owning wrappers for the handles the program opens. Each closes its handle
// through the `win32` seam when it goes out of scope, on every path, and keeps
// the thread's last-error code intact while doing so: a failure path may log
// the failed call's code after an earlier handle has been released.
#pragma once

#include "platform/win32_api.h"

template <typename Traits>
class UniqueResource {
  public:
    using pointer = typename Traits::pointer;

    UniqueResource() = default;
    explicit UniqueResource(pointer value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    pointer get() const { return value_; }
    bool is_valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return is_valid(); }

    // Closes the held handle, if any, and takes ownership of `value`.
    void reset(pointer value = Traits::Invalid()) {
        if (is_valid()) {
            const DWORD savedError = ::GetLastError();
            Traits::Close(value_);
            ::SetLastError(savedError);
        }
        value_ = value;
    }

    // Gives up ownership without closing.
    pointer release() {
        pointer value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    // Closes the held handle and returns the address to receive a new one.
    pointer* put() {
        reset();
        return &value_;
    }

  private:
    pointer value_ = Traits::Invalid();
};

struct PrinterHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer value) { win32.ClosePrinter(value); }
};

struct ServiceHandleTraits {
    using pointer = SC_HANDLE;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer value) { win32.CloseServiceHandle(value); }
};

struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) { win32.FindClose(value); }
};

struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) { win32.CloseHandle(value); }
};

// Kernel handles whose "no handle" value is null (tokens, threads, events).
struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer value) { win32.CloseHandle(value); }
};

// Memory that Windows allocated for the caller with LocalAlloc (security
// descriptors, ACLs).
struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer value) { win32.LocalFree(value); }
};

// Registry keys; closing a null key (none opened) is skipped.
struct RegistryKeyTraits {
    using pointer = HKEY;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer value) { win32.RegCloseKey(value); }
};

// A set of device nodes of the setup API.
struct DeviceInfoListTraits {
    using pointer = HDEVINFO;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) { win32.SetupDiDestroyDeviceInfoList(value); }
};

using unique_printer = UniqueResource<PrinterHandleTraits>;
using unique_service = UniqueResource<ServiceHandleTraits>;
using unique_find = UniqueResource<FindHandleTraits>;
using unique_file = UniqueResource<FileHandleTraits>;
using unique_handle = UniqueResource<KernelHandleTraits>;
using unique_local = UniqueResource<LocalMemoryTraits>;
using unique_hkey = UniqueResource<RegistryKeyTraits>;
using unique_devinfo = UniqueResource<DeviceInfoListTraits>;
