// The names orvocam gives the cameras' parameter ids, with the unit of each
// value: one table for every model (an id means the same thing on every model
// that has it; ids whose meaning a model keeps to itself are named by their
// number). `get` and `set` accept a name wherever an id goes. Pure C++.
#pragma once
#include <string>
#include <vector>

namespace orvocam {

struct ParamName {
    int id;
    const char* name;
    const char* unit;   // "" when the value is a plain number
};

// The entry for id, or null when the table has none.
const ParamName* FindParamName(int id);
// "exposure" for a named id, "parameter 42" for another.
std::string ParamLabel(int id);
// " us" (with its space) for an id with a unit, "" otherwise.
std::string ParamUnit(int id);

// A parameter given as a number (decimal or 0x hexadecimal) or a name (case
// ignored, '-' and '_' alike). False with a message in `error` for neither;
// for an unknown name the message lists the nearest names.
bool ResolveParam(const std::string& text, int* id, std::string* error);
// Up to `count` names nearest to text, nearest first.
std::vector<std::string> NearestParamNames(const std::string& text, size_t count);

}  // namespace orvocam
