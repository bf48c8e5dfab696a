// Move-only owners of the platform's resources: each gives its resource back when it goes out
// of scope, on every path, exactly once. A moved-from owner holds nothing.
//
// The close keeps the last error as it was: an owner that goes out of scope between a failing
// call and the GetLastError that reports it cannot change the error reported. No owner for modules: the system loads
// its DLLs for the life of the process and never frees one.
#pragma once

#include "platform/crypto.h"
#include "platform/eventlog.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace platform {

template <typename Traits>
class Owner {
public:
    using Resource = typename Traits::Resource;

    Owner() = default;
    explicit Owner(Resource resource) : held(resource) {}
    Owner(Owner&& other) noexcept : held(other.Release()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner() { Close(); }

    /// The resource, still owned here.
    Resource Get() const { return held; }
    bool Holds() const { return held != Traits::None(); }
    /// For an out-parameter: gives back what is held, then lets the call store a new resource here.
    Resource* Receive() {
        Close();
        return &held;
    }
    /// Gives back what is held now, ahead of the owner's end.
    void Close() { Reset(Traits::None()); }
    /// Hands the resource to the caller, who then closes it.
    Resource Release() {
        const Resource resource = held;
        held = Traits::None();
        return resource;
    }
    /// Gives back what is held and takes `resource`.
    void Reset(Resource resource) {
        if (held != Traits::None()) {
            const DWORD error = GetLastError();
            Traits::Close(held);
            SetLastError(error);
        }
        held = resource;
    }

private:
    Resource held = Traits::None();
};

struct ProcessHandleTraits {
    using Resource = HANDLE;
    static Resource None() { return nullptr; }
    static void Close(Resource handle) { CloseHandle(handle); }
};
struct FileHandleTraits {
    using Resource = HANDLE;
    static Resource None() { return INVALID_HANDLE_VALUE; }
    static void Close(Resource handle) { CloseHandle(handle); }
};
struct RegistryKeyTraits {
    using Resource = HKEY;
    static Resource None() { return nullptr; }
    static void Close(Resource key) { RegCloseKey(key); }
};
struct LocalMemoryTraits {
    using Resource = void*;
    static Resource None() { return nullptr; }
    static void Close(Resource memory) { LocalFree(memory); }
};
struct GeneralHeapTraits {
    using Resource = void*;
    static Resource None() { return nullptr; }
    static void Close(Resource block) { GeneralFree(block); }
};

struct CryptProviderTraits {
    using Resource = HCRYPTPROV;
    static Resource None() { return 0; }
    static void Close(Resource provider) { CryptReleaseContext(provider); }
};
struct CryptHashTraits {
    using Resource = HCRYPTHASH;
    static Resource None() { return 0; }
    static void Close(Resource hash) { CryptDestroyHash(hash); }
};
struct EventSourceTraits {
    using Resource = HANDLE;
    static Resource None() { return nullptr; }
    static void Close(Resource eventLog) { DeregisterEventSource(eventLog); }
};

/// A process or token handle (null: none), closed with CloseHandle.
using ScopedHandle = Owner<ProcessHandleTraits>;
/// A file handle from CreateFileW (INVALID_HANDLE_VALUE: none), closed with CloseHandle.
using ScopedFile = Owner<FileHandleTraits>;
/// A key from RegOpenKeyExW (null: none), closed with RegCloseKey.
using ScopedKey = Owner<RegistryKeyTraits>;
/// A block from GeneralAlloc (null: none), given back with GeneralFree.
using ScopedHeapBlock = Owner<GeneralHeapTraits>;
/// Memory the system handed out for LocalFree, such as GetSecurityInfo's descriptor (null: none).
using ScopedLocal = Owner<LocalMemoryTraits>;
/// A provider from CryptAcquireContextW (0: none), released with CryptReleaseContext.
using ScopedCryptProvider = Owner<CryptProviderTraits>;
/// A hash object from CryptCreateHash (0: none), destroyed with CryptDestroyHash. Declare it after
/// its provider, so that it is destroyed first.
using ScopedCryptHash = Owner<CryptHashTraits>;
/// A handle from RegisterEventSourceW (null: none), closed with DeregisterEventSource.
using ScopedEventSource = Owner<EventSourceTraits>;

}  // namespace platform
