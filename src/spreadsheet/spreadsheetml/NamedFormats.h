#pragma once
// The names that XML spreadsheets of 2003 may give a style's number format in place of a
// format code ("Short Date", "Fixed", "Currency", …).

#include <string_view>

namespace vellumcast::spreadsheet::spreadsheetml {

// The format code, with US English conventions, that a named format stands for; any other
// text is a format code itself and comes back unchanged.
std::string_view FormatCodeOfName(std::string_view format);

} // namespace vellumcast::spreadsheet::spreadsheetml
