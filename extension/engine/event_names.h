// script_event's per-engine state: the first event names it found a global
// function for, so that a later call finds the function without making the
// name a Lua string.
#pragma once

// A name found: its bytes, and the registry slot holding it as a Lua string, the
// key to look the global up again with.
struct KnownEvent {
    int ref;
    char name[28];  // with the ending zero; longer names are not kept
};
constexpr int kKnownEvents = 8;

struct EventNames {
    KnownEvent known[kKnownEvents];
    int count;
};
