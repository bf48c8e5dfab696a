#pragma once

#include "platform/process.h"

namespace orvane {

/// Owns a process handle and closes it when it goes out of scope, keeping the last error as
/// it was, so that a failure read after the close still reports the failing call.
class ScopedHandle {
public:
    explicit ScopedHandle(platform::HANDLE handle) : handle(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() {
        if (handle != nullptr) platform::CloseHandle(handle);
    }
    platform::HANDLE Get() const { return handle; }

private:
    platform::HANDLE handle;
};

}  // namespace orvane
