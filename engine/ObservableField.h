#pragma once
// Stores a value and reports whether it changed, so a setter notifies only on a
// real change: `if (assignIfChanged(field_, value)) emit fieldChanged();`.

#include <utility>

namespace corvane {

template <class T, class U>
bool assignIfChanged(T& field, U&& value) {
    if (field == value)
        return false;
    field = std::forward<U>(value);
    return true;
}

} // namespace corvane
