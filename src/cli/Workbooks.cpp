#include "cli/Workbooks.h"

#include "cli/Messages.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/StepRunner.h"
#include "spreadsheet/FormatDetection.h"
#include "worklist/FolderScan.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <stdexcept>
#include <unordered_map>

namespace vellumcast::cli {

namespace {

using core::RealPath;

// Whether path lies in a folder below root that is folder or one of its subfolders, so
// a search of root does not take what a run writes there (or wrote last time).
class BelowOutput {
public:
    BelowOutput(const std::string& root, const std::string& output)
        : m_output(RealPath(output))
    {
        const std::string realRoot = RealPath(root);
        // Only a folder found within the search is left out: the searched folder itself
        // is what was asked for, even when the texts go there too.
        if (m_output.empty() || realRoot.empty() || !(m_output + "/").starts_with(realRoot + "/")
            || m_output == realRoot)
            m_output.clear();
    }

    bool operator()(const std::string& path)
    {
        if (m_output.empty())
            return false;
        const std::string parent = core::FolderOfPath(path);
        auto [known, added] = m_parents.try_emplace(parent, false);
        if (added) {
            const std::string real = RealPath(parent);
            known->second = !real.empty() && (real + "/").starts_with(m_output + "/");
        }
        return known->second;
    }

private:
    std::string m_output; // "" when no folder of the search is left out
    std::unordered_map<std::string, bool> m_parents;
};

bool TakenBy(const std::vector<std::string>& extensions, const std::string& path)
{
    const std::string name = core::FileNameOfPath(path);
    return std::any_of(extensions.begin(), extensions.end(), [&](const std::string& extension) {
        return worklist::WildcardMatch(worklist::PatternForAnswer(extension), name);
    });
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// The 0-based index of the worksheet chosen by text, if any.
std::optional<size_t> FindWorksheet(std::deque<spreadsheet::Worksheet>& sheets, const std::string& choice)
{
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].Name() == choice)
            return i;
    }
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (SameIgnoringCase(sheets[i].Name(), choice))
            return i;
    }
    const bool digits = !choice.empty() && choice.size() <= 9
        && std::all_of(choice.begin(), choice.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        const size_t number = std::stoul(choice);
        if (number >= 1 && number <= sheets.size())
            return number - 1;
    }
    return std::nullopt;
}

std::string_view VisibilityWord(spreadsheet::SheetVisibility visibility)
{
    switch (visibility) {
    case spreadsheet::SheetVisibility::Visible:
        return "visible";
    case spreadsheet::SheetVisibility::Hidden:
        return "hidden";
    case spreadsheet::SheetVisibility::VeryHidden:
        return "very hidden";
    }
    return "visible";
}

} // namespace

std::vector<std::string> ExpandFolders(const CommandLineOptions& options, std::string& errors, std::string& warnings)
{
    const std::vector<std::string> extensions
        = options.extensions.empty() ? spreadsheet::WorkbookExtensions() : options.extensions;
    const bool toFolder = !options.list && options.outputFolder != "-";
    std::vector<std::string> arguments;
    for (const auto& argument : options.workbooks) {
        const auto matches = argument == "-" ? std::nullopt : core::ExpandWildcards(argument);
        if (!matches)
            arguments.push_back(argument);
        else if (matches->empty())
            errors += ErrorLine(argument, "no file or folder matches this name");
        else
            arguments.insert(arguments.end(), matches->begin(), matches->end());
    }
    std::vector<std::string> workbooks;
    for (const auto& argument : arguments) {
        if (argument == "-" || !core::FolderExists(argument)) {
            workbooks.push_back(argument);
            continue;
        }
        // The folder import's own scan and file filter, taking every name; the extensions
        // are matched afterwards, so several of them keep the folder-by-folder order.
        worklist::WorkbookList found;
        core::NoPump pump;
        LineReporter reporter(errors, argument);
        core::StepRunner run(reporter, core::LocationText("Form1", "PushButton5_Click"));
        const std::string folder = core::WithoutEndingSeparators(argument);
        worklist::ImportFolder(found, folder, "*.*", run, pump, options.recursive);
        const size_t before = workbooks.size();
        BelowOutput belowOutput(folder, toFolder ? options.outputFolder : std::string());
        for (const auto& path : found.Paths()) {
            if (TakenBy(extensions, path) && !belowOutput(path))
                workbooks.push_back(path);
        }
        if (workbooks.size() == before)
            warnings += WarningLine(argument, "no workbook found in this folder");
    }
    return workbooks;
}

std::vector<size_t> SelectWorksheets(spreadsheet::Workbook& workbook, const std::string& shownName,
    const CommandLineOptions& options, std::vector<std::string>& warnings)
{
    const std::vector<std::string>& sheets = options.sheets;
    const SheetPatterns& patterns = options.patterns;
    if (sheets.empty() && !options.skipHidden && patterns.Empty())
        return {}; // every worksheet, listed as the export reads on rather than before it
    auto& worksheets = workbook.Worksheets();
    std::vector<bool> keep(worksheets.size(), sheets.empty() && !patterns.HasIncludes());
    for (const auto& choice : sheets) {
        const auto index = FindWorksheet(worksheets, choice);
        if (!index)
            throw std::runtime_error(shownName + ": there is no worksheet \"" + choice + "\" in it");
        keep[*index] = true;
    }
    if (!patterns.Empty()) {
        std::vector<std::string_view> names;
        for (size_t i = 0; i < worksheets.size(); ++i) {
            const std::string& name = worksheets[i].Name();
            if (name.size() > SheetPatterns::MaxNameBytes)
                throw std::runtime_error(shownName + ": the name of worksheet " + std::to_string(i + 1) + " is "
                    + std::to_string(name.size()) + " bytes long, too long to match --include and --exclude "
                    + "patterns against (at most " + std::to_string(SheetPatterns::MaxNameBytes) + ")");
            keep[i] = (keep[i] || patterns.Included(name)) && !patterns.Excluded(name);
            names.push_back(name);
        }
        for (const std::string& pattern : patterns.MatchingNone(names))
            warnings.push_back("the pattern " + pattern + " matches no worksheet in it");
    }
    std::vector<size_t> numbers;
    std::vector<size_t> indexes;
    for (size_t i = 0; i < worksheets.size(); ++i) {
        if (options.skipHidden && worksheets[i].Visibility() != spreadsheet::SheetVisibility::Visible)
            keep[i] = false;
        if (keep[i]) {
            numbers.push_back(i + 1);
            indexes.push_back(i);
        }
    }
    workbook.KeepWorksheets(indexes);
    return numbers;
}

std::string CellReference(int32_t row, int32_t column)
{
    std::string letters;
    for (int32_t n = column; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    return letters + std::to_string(row);
}

namespace {

std::string Counted(int64_t count, std::string_view what)
{
    return std::to_string(count) + ' ' + std::string(what) + (count == 1 ? "" : "s");
}

// "2 hidden rows, 1 hidden column, 3 merged areas": the rows and columns of the used
// range that the workbook hides, and the areas merged into one cell.
std::string LayoutSummary(spreadsheet::Worksheet& worksheet)
{
    return Counted(worksheet.HiddenRowCount(), "hidden row") + ", "
        + Counted(worksheet.HiddenColumnCount(), "hidden column") + ", "
        + Counted(static_cast<int64_t>(worksheet.MergedAreas().size()), "merged area");
}

std::string_view OtherKindWords(spreadsheet::OtherSheetKind kind)
{
    switch (kind) {
    case spreadsheet::OtherSheetKind::Chart:
        return "chart sheet";
    case spreadsheet::OtherSheetKind::Dialog:
        return "dialog sheet";
    case spreadsheet::OtherSheetKind::Macro:
        return "macro sheet";
    }
    return "chart sheet";
}

} // namespace

std::string ListWorksheets(spreadsheet::Workbook& workbook, const std::vector<size_t>& numbers)
{
    std::string text;
    auto& worksheets = workbook.Worksheets();
    // Sheets of other kinds stand where the workbook lists them, when every sheet is
    // listed: no number (no --sheet chooses them), their kind where a range would be.
    const auto& others = numbers.empty() ? workbook.OtherSheets() : std::vector<spreadsheet::OtherSheet>();
    size_t other = 0;
    const auto listOthersBefore = [&](size_t worksheet) {
        for (; other < others.size() && others[other].worksheetsBefore <= worksheet; ++other)
            text += "-\t" + Escaped(others[other].name) + '\t' + std::string(VisibilityWord(others[other].visibility))
                + '\t' + std::string(OtherKindWords(others[other].kind)) + '\n';
    };
    for (size_t i = 0; i < worksheets.size(); ++i) {
        listOthersBefore(i);
        const spreadsheet::CellRange range = worksheets[i].UsedRange();
        // Empty as the export judges it: a used range of A1 alone, holding no text.
        const bool empty = range.lastRow == 1 && range.lastColumn == 1 && worksheets[i].CellText(1, 1).empty();
        text += std::to_string(numbers.empty() ? i + 1 : numbers.at(i)) + '\t' + Escaped(worksheets[i].Name()) + '\t'
            + std::string(VisibilityWord(worksheets[i].Visibility())) + '\t'
            + (empty ? std::string("empty")
                     : CellReference(range.firstRow, range.firstColumn) + ':'
                        + CellReference(range.lastRow, range.lastColumn))
            + '\t' + LayoutSummary(worksheets[i]) + '\n';
        worksheets[i].Unload();
    }
    listOthersBefore(SIZE_MAX);
    return text;
}

} // namespace vellumcast::cli
