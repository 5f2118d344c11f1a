#pragma once

#include <functional>

// A value owned elsewhere, read and written through its owner, so a control
// never keeps a copy that could drift from the caller's state.
template <typename T>
struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;
};
