// Per engine: whether it runs scripts the game did not write (lua/sandbox.h
// cuts its libraries down). Kept apart so that the engine can hold it without
// knowing what a sandbox removes.
#pragma once

struct SandboxMark {
    bool on = false;
};
