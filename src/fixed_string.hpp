// Compile-time strings usable as template arguments, so that member names,
// full names ("Cube3x3.do_moves()") and documentation strings are all built
// by the compiler and live in static storage.
#pragma once

#include <cstddef>

namespace turnwheel {

template <std::size_t N>
struct FixedString {
    char data[N]{};

    constexpr FixedString() = default;
    constexpr FixedString(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i) data[i] = text[i];
    }
    static constexpr std::size_t length = N - 1;
    constexpr const char* c_str() const { return data; }
};

template <FixedString... Parts>
struct Joined {
  private:
    static constexpr std::size_t total = (0 + ... + Parts.length) + 1;
    static constexpr FixedString<total> make() {
        FixedString<total> out;
        std::size_t at = 0;
        ((void)[&] {
            for (std::size_t i = 0; i < Parts.length; ++i) out.data[at++] = Parts.data[i];
        }(), ...);
        out.data[at] = '\0';
        return out;
    }

  public:
    static constexpr FixedString<total> value = make();
};

// "name" + "." + "member" + "()" and friends, as a static C string.
template <FixedString... Parts>
inline constexpr const char* join = Joined<Parts...>::value.data;

}  // namespace turnwheel
