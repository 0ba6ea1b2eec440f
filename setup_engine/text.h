// Text helpers of the setup engine: case-insensitive tests over ASCII letters
// (settings keys, switches and msiexec options are ASCII), splitting and the
// blank and quote clean-up applied to command-line values. No Win32 here.
#pragma once
#include <string>
#include <vector>

namespace orvo::setup {

std::wstring ToLower(std::wstring text);
bool IEquals(const std::wstring& a, const std::wstring& b);
bool IStartsWith(const std::wstring& text, const std::wstring& prefix);
// Position of needle in text ignoring case, or npos.
size_t IFind(const std::wstring& text, const std::wstring& needle, size_t from = 0);
bool IContains(const std::wstring& text, const std::wstring& needle);

// Splits at every separator; empty pieces are kept.
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);

// Leading and trailing spaces removed (as PathRemoveBlanksW does).
std::wstring RemoveBlanks(const std::wstring& text);
// One pair of enclosing double quotes removed (as PathUnquoteSpacesW does).
std::wstring UnquoteSpaces(const std::wstring& text);

// Decimal text to integer as a profile reader does: leading blanks, an
// optional sign, then digits; anything else ends the number (none gives 0).
long ParseLeadingInt(const std::wstring& text);

}  // namespace orvo::setup
