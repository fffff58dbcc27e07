#pragma once
// Guards for paired calls: the second half runs however the scope ends, so no failure path can
// forget it. The second half must not raise.
#include <utility>

// Runs `undo` when the scope ends.
template <class F> class TScopeExit {
public:
    explicit TScopeExit(F undo) : undo_(std::move(undo)) {}
    ~TScopeExit() { undo_(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F undo_;
};

// Gives a variable a value for the life of the scope and puts the one it had back at the end.
template <class T> class TScopedValue {
public:
    TScopedValue(T& variable, T value) : variable_(variable), saved_(std::move(variable)) {
        variable_ = std::move(value);
    }
    ~TScopedValue() { variable_ = std::move(saved_); }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& variable_;
    T saved_;
};
