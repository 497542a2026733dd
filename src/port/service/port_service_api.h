#pragma once

// The client library of the vendor's port-communication service ("ZemakPH.dll", or
// "ZTovel.dll" under the Program Files folder) as this program calls it. The port
// service kind and the test library that stands in for the vendor's both build from
// this one header, so the two cannot drift apart.
//
// Calling convention: plain C functions (extern "C", the compiler's default C
// convention, no __stdcall), exported under their bare names. On x86-64 Windows this
// is the one Microsoft x64 convention; a 32-bit build would use cdecl. Every entry
// point returns an int status, 0 meaning success. Handles are opaque 32-bit values.
// Wide text is UTF-16 (wchar_t on Windows), NUL-terminated.
//
// The entry points, fetched by these ANSI names:
//   "Open"               (url, out handle)
//   "Close"              (handle)
//   "Lock"               (handle, time-out in ms): 0 when the port is held for this client
//   "Unlock"             (handle)
//   "SendReceive"        (handle, data, length, out sent, flags, time-out in ms,
//                         receive buffer, receive size, out received)
//   "Ioctl"              (handle, code, input, input length, output, output size,
//                         out output length)
//   "RegisterCallback"   (handle, event, callback, context)
//   "UnRegisterCallback" arguments not known: fetched, never called (the port stops
//                         taking callbacks on its own side)

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t SvcChar;
#else
typedef uint16_t SvcChar;
#endif

typedef uint32_t SvcHandle;

// Called by the library, possibly on a thread of its own, with received bytes. What the
// first two values mean is the library's own; the port does not use them.
typedef void (*SvcDataCallback)(SvcHandle handle, uintptr_t context, const void* data, uint32_t length);

typedef int (*SvcOpenFn)(const SvcChar* url, SvcHandle* handle);
typedef int (*SvcCloseFn)(SvcHandle handle);
typedef int (*SvcLockFn)(SvcHandle handle, uint32_t timeoutMs);
typedef int (*SvcUnlockFn)(SvcHandle handle);
typedef int (*SvcSendReceiveFn)(SvcHandle handle, const void* data, uint32_t length, uint32_t* sent, uint32_t flags,
                                uint32_t timeoutMs, void* receive, uint32_t receiveSize, uint32_t* received);
typedef int (*SvcIoctlFn)(SvcHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                          uint32_t outputSize, uint32_t* outputLength);
typedef int (*SvcRegisterCallbackFn)(SvcHandle handle, uint32_t event, SvcDataCallback callback, uintptr_t context);
// An entry point whose arguments are not known; never to be called.
typedef void (*SvcUnknownEntry)(void);

// Event and control codes.
#define SVC_EVENT_DATA 0x60002u
// Input: one 4-byte little-endian value; no output.
#define SVC_IOCTL_OPEN_OPTION 0x60050002u
// Output: the port names as wide strings, each ended by a NUL, the list ended by an
// empty string.
#define SVC_IOCTL_LIST_PORTS 0x40070002u
// Input: a property name as a wide string with its NUL; output: wide text.
#define SVC_IOCTL_GET_PROPERTY 0x4007000Bu

#ifdef __cplusplus
}  // extern "C"
#endif
