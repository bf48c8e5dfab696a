// Compile-time proof that every constant the platform headers define has Windows' value: the
// logic passes them straight to Windows and compares Windows' answers with them.
//
// <windows.h> defines the same names as macros, so the platform's values are copied under other
// names before it is included, and compared with the macros after.

#include "platform/crypto.h"
#include "platform/eventlog.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/types.h"
#include "platform/version.h"

// clang-format off
#define PLATFORM_CONSTANTS(X)                                                                     \
    X(TRUE) X(FALSE)                                                                              \
    X(ERROR_SUCCESS) X(ERROR_FILE_NOT_FOUND) X(ERROR_PATH_NOT_FOUND) X(ERROR_ACCESS_DENIED)       \
    X(ERROR_INVALID_HANDLE) X(ERROR_NOT_ENOUGH_MEMORY) X(ERROR_INVALID_DATA)                      \
    X(ERROR_SHARING_VIOLATION) X(ERROR_INVALID_PARAMETER) X(ERROR_INSUFFICIENT_BUFFER)            \
    X(ERROR_ALREADY_EXISTS) X(ERROR_MORE_DATA) X(ERROR_RESOURCE_TYPE_NOT_FOUND)                   \
    X(ERROR_RESOURCE_DATA_NOT_FOUND) X(ERROR_CANCELLED)                                           \
    X(KEY_QUERY_VALUE) X(KEY_SET_VALUE) X(KEY_CREATE_SUB_KEY) X(KEY_WOW64_64KEY) X(KEY_WOW64_32KEY) \
    X(REG_CREATED_NEW_KEY) X(REG_OPENED_EXISTING_KEY)                                             \
    X(REG_NONE) X(REG_SZ) X(REG_EXPAND_SZ) X(REG_BINARY) X(REG_DWORD) X(REG_MULTI_SZ)             \
    X(SEE_MASK_NOCLOSEPROCESS) X(SW_SHOW) X(WAIT_OBJECT_0) X(WAIT_TIMEOUT) X(WAIT_FAILED)         \
    X(CSIDL_COMMON_APPDATA) X(S_OK) X(E_FAIL) X(MAX_PATH)                                         \
    X(GENERIC_READ) X(GENERIC_WRITE) X(FILE_SHARE_READ) X(FILE_SHARE_WRITE) X(FILE_SHARE_DELETE)  \
    X(CREATE_NEW) X(CREATE_ALWAYS) X(OPEN_EXISTING) X(OPEN_ALWAYS) X(FILE_ATTRIBUTE_NORMAL)       \
    X(FILE_ATTRIBUTE_DIRECTORY) X(FILE_ATTRIBUTE_REPARSE_POINT) X(FILE_FLAG_OPEN_REPARSE_POINT)   \
    X(FILE_FLAG_BACKUP_SEMANTICS) X(FILE_FLAG_SEQUENTIAL_SCAN) X(FILE_READ_ATTRIBUTES) X(READ_CONTROL) X(SE_FILE_OBJECT)       \
    X(OWNER_SECURITY_INFORMATION) X(WinLocalSystemSid) X(WinBuiltinAdministratorsSid)             \
    X(TOKEN_QUERY) X(TokenUser) X(TokenElevation)                                                 \
    X(FILE_TRAVERSE) X(DELETE) X(FILE_OPEN) X(FILE_CREATE) X(FILE_NON_DIRECTORY_FILE)             \
    X(FILE_OPEN_REPARSE_POINT) X(STATUS_SUCCESS) X(STATUS_OBJECT_NAME_COLLISION)                  \
    X(SDDL_REVISION_1) X(ERROR_INVALID_OWNER)                                                     \
    X(PROV_RSA_AES) X(CRYPT_VERIFYCONTEXT) X(CALG_SHA_256) X(HP_HASHVAL)                          \
    X(EVENTLOG_ERROR_TYPE) X(EVENTLOG_INFORMATION_TYPE)

namespace {
#define COPY(name) constexpr auto ours_##name = platform::name;
PLATFORM_CONSTANTS(COPY)
#undef COPY
}  // namespace

// The NTSTATUS values come from <ntstatus.h>, which <windows.h> must then leave to it.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <shellapi.h>
#include <shlobj.h>
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>
#include <winternl.h>

// `name` alone is expanded to Windows' macro; next to ## it stays the platform's copy.
#define SAME_VALUE(name) static_assert(ours_##name == (name), #name " differs from Windows");
PLATFORM_CONSTANTS(SAME_VALUE)
#undef SAME_VALUE
// clang-format on
