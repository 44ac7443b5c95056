// A routine that hears of every host routine call, before and after it: the
// extension installs one while it needs to know when host code runs (to leave
// time spent there off a script's run clock). Null when nobody listens, which
// costs call_host one branch.
#pragma once
#include <cstdint>


// entering is true just before the host routine is called, false once it returned.
using HostCallHook = void (*)(bool entering);

extern HostCallHook g_host_call_hook;
