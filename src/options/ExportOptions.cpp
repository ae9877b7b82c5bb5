#include "options/ExportOptions.h"

namespace vellumcast::options {

std::string DividerFor(DividerChoice choice, std::string_view otherText)
{
    switch (choice) {
    case DividerChoice::Tab:
        return "\t";
    case DividerChoice::Comma:
        return ",";
    case DividerChoice::CommaSpace:
        return ", ";
    case DividerChoice::Space:
        return " ";
    case DividerChoice::Other:
        return std::string(otherText);
    }
    return "\t";
}

} // namespace vellumcast::options
