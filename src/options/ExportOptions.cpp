#include "options/ExportOptions.h"

namespace vellumcast::options {

std::string_view SaveModeCaption(SaveMode mode)
{
    switch (mode) {
    case SaveMode::AllSheets:
        return kAllSheetsCaption;
    case SaveMode::EachSheet:
        return kEachSheetCaption;
    case SaveMode::EachRow:
        return kEachRowCaption;
    case SaveMode::EachColumn:
        return kEachColumnCaption;
    }
    return kAllSheetsCaption;
}

std::optional<SaveMode> SaveModeFromCaption(std::string_view caption)
{
    for (SaveMode mode : { SaveMode::AllSheets, SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
        if (caption == SaveModeCaption(mode))
            return mode;
    }
    return std::nullopt;
}

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
