#pragma once

// The test stand-in for the service's client library: the eight entry points of
// port_service_api.h plus the control functions below, used only by tests. Under Windows
// it is "ZemakPH.dll" beside the test programs (found by the normal DLL search); natively
// the same code is linked into the tests and bound directly.
//
// Service ports are served by a backend the test hands over (normally the simulated
// printer's engine through HostLinks, see test_service_library.h). URLs are parsed and
// recorded; a remote URL ("tcp://10.0.0.5/QX/...") is served by the same backend: nothing
// ever goes to the network. Received bytes are delivered through the registered callback
// on the library's own delivery thread. Every entry point and its arguments are written
// to a call log.
//
// Connections and what they take:
//   "pipe://QX", "tcp://A/QX/"                 list connections: SVC_IOCTL_LIST_PORTS
//   "pipe://QX/NAME", "tcp://A/QX/NAME"        port connections: Lock, SendReceive, callback
//   "pipe://QX/NAME/", "tcp://A/QX/NAME/"      property connections: SVC_IOCTL_GET_PROPERTY
// A port connection opens when the backend gives a link for NAME (or always when there
// is no backend: its sent bytes are then dropped).

#include <stdint.h>

#ifdef _WIN32
#define ZEMAK_TEST_EXPORT __declspec(dllexport)
#else
#define ZEMAK_TEST_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The service's side of the ports. Called from the caller's threads and the delivery
// thread; CloseLink and MillisecondsUntilOutput with the library's lock held.
typedef struct ZemakTestBackend {
  void* Context;
  // A link to the port NAME, or null to refuse the open.
  void* (*OpenLink)(void* context, const char* portName);
  void (*CloseLink)(void* context, void* link);
  // 1 when the port took the bytes.
  int (*Write)(void* context, void* link, const void* data, uint32_t length);
  // Whatever the port has for the host now, at most `size` bytes.
  uint32_t (*Read)(void* context, void* link, void* buffer, uint32_t size);
  // 0 when bytes are due now, -1 when nothing is queued, else the wait in ms.
  int64_t (*MillisecondsUntilOutput)(void* context, void* link);
} ZemakTestBackend;

// Faults on request (ZemakTestSetFaults).
#define ZEMAK_TEST_REFUSE_OPEN 1u  // every "Open" fails
#define ZEMAK_TEST_REFUSE_LOCK 2u  // every "Lock" fails
#define ZEMAK_TEST_FAIL_LIST 4u    // SVC_IOCTL_LIST_PORTS fails
#define ZEMAK_TEST_FAIL_SEND 8u    // "SendReceive" fails after reporting half the bytes sent
#define ZEMAK_TEST_OVERCOUNT_SEND 16u  // "SendReceive" reports 100 bytes more sent than it was given

// Closes every connection (the delivery thread stops), stops a flood, and forgets the
// backend, faults, port list, properties and call log; handles count from 1 again.
ZEMAK_TEST_EXPORT void ZemakTestReset(void);
// Copied; null removes the backend.
ZEMAK_TEST_EXPORT void ZemakTestSetBackend(const ZemakTestBackend* backend);
ZEMAK_TEST_EXPORT void ZemakTestSetFaults(uint32_t faults);
// The raw answer of SVC_IOCTL_LIST_PORTS (copied up to the caller's output size).
ZEMAK_TEST_EXPORT void ZemakTestSetPortList(const void* answer, uint32_t size);
// The answer of SVC_IOCTL_GET_PROPERTY for one port and property; a property not set
// fails.
ZEMAK_TEST_EXPORT void ZemakTestSetProperty(const char* portName, const char* property, const char* value);
// The call log, one line per call, each ended by '\n'. Copies what fits (with a NUL) and
// returns the full length.
ZEMAK_TEST_EXPORT uint32_t ZemakTestCallLog(char* buffer, uint32_t size);
ZEMAK_TEST_EXPORT void ZemakTestClearCallLog(void);
ZEMAK_TEST_EXPORT uint32_t ZemakTestOpenConnections(void);
// Waits (real time, at most `timeoutMs`) until every byte the backend has due now for a
// connection with a callback has been handed to that callback and the callback has
// returned. 1 when that is so, 0 on time-out.
ZEMAK_TEST_EXPORT int ZemakTestWaitIdle(uint32_t timeoutMs);
// A misbehaving library: a thread of its own calls the most recently registered data
// callback, with the connection and context it was registered for, with these bytes
// over and over, also after that connection was closed, until ZemakTestStopFlood.
ZEMAK_TEST_EXPORT void ZemakTestStartFlood(const void* data, uint32_t length);
ZEMAK_TEST_EXPORT void ZemakTestStopFlood(void);
ZEMAK_TEST_EXPORT uint64_t ZemakTestFloodCalls(void);
// Calls the most recently registered data callback once, on the caller's thread, as
// if connection `handle` had received the bytes. 0 when there was a callback to call.
ZEMAK_TEST_EXPORT int ZemakTestDeliver(uint32_t handle, const void* data, uint32_t length);

#ifdef __cplusplus
}  // extern "C"
#endif
