#pragma once

#include <utility>

namespace rendova {

// Runs a function when the scope ends, however it ends, unless dismissed
// first: the undo of a step that has no owning type of its own (a temporary
// file to remove again, a depth to step back out of). The function must not
// throw. One thread; not copyable.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F function) : m_function(std::move(function)) {}
    ~ScopeExit() {
        if (m_armed)
            m_function();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The step succeeded: nothing is undone.
    void dismiss() { m_armed = false; }

private:
    F m_function;
    bool m_armed = true;
};

}  // namespace rendova
