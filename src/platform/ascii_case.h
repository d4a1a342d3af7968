// Comparisons of names that fold ASCII letters and leave every other
// character as it is, for wide and narrow names alike.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace m3umerge {

template <class Char>
constexpr Char ascii_upper(Char c) {
  return (c >= Char('a') && c <= Char('z')) ? Char(c - Char('a') + Char('A')) : c;
}

template <class Char>
constexpr bool equals_ignoring_ascii_case(std::basic_string_view<Char> a,
                                          std::basic_string_view<Char> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) {
           return ascii_upper(x) == ascii_upper(y);
         });
}

template <class Char>
constexpr bool ends_with_ignoring_ascii_case(std::basic_string_view<Char> text,
                                             std::basic_string_view<Char> suffix) {
  return text.size() >= suffix.size() &&
         equals_ignoring_ascii_case(text.substr(text.size() - suffix.size()), suffix);
}

// Orders names byte by byte (unit by unit) with ASCII letters folded to upper
// case; names equal under folding are ordered by their raw units, so the
// order is total and does not depend on how the system listed them.
template <class Char>
constexpr bool name_less(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  using Unit = std::make_unsigned_t<Char>;
  int raw_order = 0;  // the first raw difference, for names equal when folded
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const Unit x = Unit(a[i]);
    const Unit y = Unit(b[i]);
    if (ascii_upper(x) != ascii_upper(y)) return ascii_upper(x) < ascii_upper(y);
    if (raw_order == 0 && x != y) raw_order = x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return raw_order < 0;
}

}  // namespace m3umerge
