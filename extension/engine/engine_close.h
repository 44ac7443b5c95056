// Closing an engine: what destroy does once it has found the engine idle.
#pragma once

#include "extension/engine/engine_registry.h"

// [-0, +0, -] Closes engine's Lua state. Marks the engine closing first, so that
// exports reached from a script's __gc finalizers meanwhile leave it alone, lifts
// its time limit and any hook, brings the collector to rest, then lua_close
// (which swallows the errors finalizers raise), and disposes the host cells that
// raises inside orphaned. The engine stays registered: the caller forgets its id.
void close_engine(Engine& engine) noexcept;
