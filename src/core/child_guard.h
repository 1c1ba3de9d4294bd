#pragma once

#include <sys/types.h>

namespace loomdeck {

// A child's own processes do not get the parent-death signal the child gets (the kernel clears it
// at every fork), so a server starts a guard: a process of its own that knows the process group of
// every child running and kills those groups once the server is gone, however it died. It learns
// of the server's end from a pipe only the server writes to, which reads as ended when the server
// exits.
//
// The guard's process name (what /proc/<pid>/comm shows).
inline constexpr char kGuardName[] = "loomdeck-guard";

// Forks the guard, once per process; children spawned from then on report to it. False when it
// could not be started (children then still die with the server, their own processes may not).
bool start_child_guard();

// The pipe to the guard, or -1 without one.
int child_guard_fd();

// From a freshly forked child, before its exec (async-signal-safe): registers `group`.
void tell_guard_in_child(int guard_fd, pid_t group);

// From the parent once a child has ended, before it is reaped (so its id is not reused yet).
void tell_guard_child_ended(pid_t group);

}  // namespace loomdeck
