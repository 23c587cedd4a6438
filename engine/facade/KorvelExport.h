#pragma once
// Marks what the shared library shows to other programs: the engine is compiled with its
// symbols hidden, and only the facade (and what it needs) is exported.

#if defined(__GNUC__) || defined(__clang__)
#define KORVEL_EXPORT __attribute__((visibility("default")))
#else
#define KORVEL_EXPORT
#endif
