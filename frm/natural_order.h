// The order tessera-frm make takes a folder's pictures and a pattern's
// matches in, and the matching of a pattern's last part.
#ifndef TESSERA_FRM_NATURAL_ORDER_H_
#define TESSERA_FRM_NATURAL_ORDER_H_

#include <string_view>

// Natural name order: `walk2` before `walk10`. A name is split into runs of
// ASCII digits and runs of other bytes, compared in turn. A digit run comes
// before any other run; digit runs compare by value, then the shorter first
// (`walk1` before `walk01`); other runs compare byte by byte with ASCII
// letters folded to lower case, the shorter first where one begins the
// other. A name that begins another comes first, and names still equal
// compare by their bytes. Negative, zero or positive as `a` comes before,
// with or after `b`.
int NaturalCompare(std::string_view a, std::string_view b);

inline bool NaturalLess(std::string_view a, std::string_view b) { return NaturalCompare(a, b) < 0; }

// Whether `name` matches `pattern`, where `*` stands for any run of bytes and
// `?` for one character (one UTF-8 sequence); ASCII letters in either case
// when `ignore_case`.
bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignore_case);

#endif  // TESSERA_FRM_NATURAL_ORDER_H_
