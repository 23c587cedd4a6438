#pragma once
// The engine's one rule for errors met while reading: damage degrades (a bad object reads as
// null, a bad stream decodes to what came before the damage, a file that cannot be read does
// not load), resource exhaustion propagates. std::bad_alloc, and std::length_error of a size
// that cannot be allocated, reach the caller through every layer, so that a process under a
// memory limit learns why it stopped instead of reading on with parts missing.

#include <new>
#include <stdexcept>

namespace korvel {

// Inside a catch handler: whether the exception being handled is resource exhaustion.
inline bool IsExhaustion() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const std::length_error&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Inside a catch (...) that degrades: rethrows the exception being handled when it is resource
// exhaustion, returns otherwise.
inline void RethrowExhaustion() {
    if (IsExhaustion())
        throw;
}

} // namespace korvel
