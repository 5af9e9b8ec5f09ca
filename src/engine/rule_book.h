#pragma once
// The rule books of RealMedia streams ("a=ASMRuleBook:string;" in the SDP):
// which of a stream's rules a client of a given bandwidth subscribes to.
//
// A rule book is a list of rules, each ended by ";" and numbered from 0. A
// rule that begins with "#" is a condition, optionally followed by ","
// and assignments; it matches when the condition is not 0. Any other rule is
// a list of assignments ("Name=value", separated by ",", possibly none) and
// always matches. Conditions join comparisons with AND ("&", "&&") and OR
// ("|", "||") as bitwise operations on 32-bit integers, strictly from left
// to right; a comparison joins operands with "==" ("="), "<", "<=", ">",
// ">=", also from left to right, each step giving 1 or 0. An operand is a
// number, "$" and a variable name, or a condition in parentheses. The
// variables are "Bandwidth" and "OldPNMPlayer" (0).
//
// Thread: any; no state between calls. Bounded by the text: no step reads
// past its end, parentheses nest at most kMaxRuleBookDepth deep, and a
// token's text keeps at most 1024 bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr int kMaxRuleBookDepth = 64;
inline constexpr int32_t kSubscribeBandwidth = 10485800;

// Fills matches with the numbers of the matching rules followed by -1 and
// returns how many matched. A rule book that does not follow the grammar (or
// names an unknown variable) gives -1, matches {-1} and the error's text,
// one of: "semicolon expected.\n", "error: unknown identifier %s\n",
// "error: identifier expected.\n", "error: ) expected.\n",
// "syntax error, $ number or ( expected\n", "error: identifier expected\n",
// "error: = expected\n", "error: number or string expected\n".
int EvaluateRuleBook(std::string_view text, int32_t bandwidth, std::vector<int32_t>& matches,
                     std::string* error = nullptr);

}  // namespace fetchora
