// Dotted version numbers ("1.10.2") compared part by part as numbers.
#pragma once
#include <string>

namespace orvo::setup {

// -1, 0 or 1 as a is older than, equal to or newer than b. Missing parts
// count as 0; a part's leading digits are its number.
int CompareVersions(const std::wstring& a, const std::wstring& b);

}  // namespace orvo::setup
