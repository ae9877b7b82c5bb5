#include "cli/Workbooks.h"

#include "cli/Messages.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Paths.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"
#include "results/SaveResults.h"
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

// The folder of path relative to root (which path lies in): "" for root itself.
std::string FolderBelow(const std::string& root, const std::string& path)
{
    if (!path.starts_with(root))
        return {};
    std::string_view rest = std::string_view(path).substr(root.size());
    if (!root.empty() && !core::IsPathSeparator(root.back()) && (rest.empty() || !core::IsPathSeparator(rest.front())))
        return {};
    while (!rest.empty() && core::IsPathSeparator(rest.front()))
        rest.remove_prefix(1);
    std::string folder = core::FolderOfPath(rest);
    if (folder == ".")
        return {};
    // {dir} is spelt with "/" on every system.
    std::replace_if(
        folder.begin(), folder.end(), [](char c) { return core::IsPathSeparator(c); }, '/');
    return folder;
}

// The files found by a search that are texts a save into the output folder gives the
// workbooks found with them: one whose path within the output folder is a name that
// naming gives a workbook of the same search (found in folders[i]).
class OwnTexts {
public:
    OwnTexts(const CommandLineOptions& options, const std::string& output)
        : m_naming(options.exportOptions.saveMode, options.nameTemplate)
        , m_output(output.empty() ? std::string() : RealPath(output))
    {
    }

    // Which of paths are such texts.
    std::vector<bool> Find(const std::vector<std::string>& paths, const std::vector<std::string>& folders)
    {
        std::vector<bool> own(paths.size(), false);
        if (m_output.empty())
            return own;
        // The files in the output folder, each named by its path there.
        std::vector<std::pair<size_t, std::string>> candidates;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!paths[i].ends_with(".txt"))
                continue;
            const size_t slash = paths[i].rfind('/');
            const std::string parent = RealPath(slash == std::string::npos ? "." : paths[i].substr(0, slash + 1));
            if (parent == m_output)
                candidates.emplace_back(i, core::FileNameOfPath(paths[i]));
            else if (parent.starts_with(m_output + "/"))
                candidates.emplace_back(i, parent.substr(m_output.size() + 1) + "/" + core::FileNameOfPath(paths[i]));
        }
        if (candidates.empty())
            return own;
        // Names starting with a workbook's stem are matched against the workbooks of
        // that stem alone, so a search of thousands of files stays quick.
        std::unordered_multimap<std::string, size_t> byStem;
        if (m_naming.StartsWithStem()) {
            for (size_t w = 0; w < paths.size(); ++w)
                byStem.emplace(results::SafeNamePart(exporting::FileStem(paths[w])), w);
        }
        const auto gives = [&](size_t w, size_t file, const std::string& name) {
            return w != file && m_naming.Gives(name, paths[w], folders[w]);
        };
        for (const auto& [file, name] : candidates) {
            if (!m_naming.StartsWithStem()) {
                for (size_t w = 0; w < paths.size() && !own[file]; ++w)
                    own[file] = gives(w, file, name);
                continue;
            }
            const std::string leaf = core::FileNameOfPath(name);
            for (size_t length = 1; length <= leaf.size() && !own[file]; ++length) {
                const auto [first, last] = byStem.equal_range(leaf.substr(0, length));
                for (auto it = first; it != last && !own[file]; ++it)
                    own[file] = gives(it->second, file, name);
            }
        }
        return own;
    }

private:
    results::ResultNaming m_naming;
    std::string m_output; // the output folder's real path; "" when texts go to no folder
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

} // namespace

std::string ShownName(const std::string& argument)
{
    for (const std::string_view folder : { "/dev/fd/", "/proc/self/fd/" }) {
        if (argument.starts_with(folder) && argument.size() > folder.size()
            && std::all_of(argument.begin() + static_cast<std::ptrdiff_t>(folder.size()), argument.end(),
                [](char c) { return c >= '0' && c <= '9'; }))
            return std::string(kStdinName);
    }
    return argument == "-" ? std::string(kStdinName) : argument;
}

std::vector<std::string> ExpandFolders(
    const CommandLineOptions& options, std::string& errors, std::string& warnings, std::vector<std::string>& folders)
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
            folders.emplace_back();
            continue;
        }
        // The folder import's own scan and file filter, taking every name; the extensions
        // are matched afterwards, so several of them keep the folder-by-folder order.
        worklist::WorkbookList found;
        core::NoPump pump;
        LineReporter reporter(errors, argument);
        core::StepRunner run(reporter, {}); // the lines name the folder and file, not a place
        const std::string folder = core::WithoutEndingSeparators(argument);
        worklist::ImportFolder(found, folder, "*.*", run, pump, options.recursive);
        const size_t before = workbooks.size();
        BelowOutput belowOutput(folder, toFolder ? options.outputFolder : std::string());
        std::vector<std::string> taken;
        std::vector<std::string> takenFolders;
        for (const auto& path : found.Paths()) {
            if (TakenBy(extensions, path) && !belowOutput(path)) {
                taken.push_back(path);
                takenFolders.push_back(FolderBelow(folder, path));
            }
        }
        const std::vector<bool> own
            = OwnTexts(options, toFolder ? options.outputFolder : std::string()).Find(taken, takenFolders);
        for (size_t i = 0; i < taken.size(); ++i) {
            if (!own[i]) {
                workbooks.push_back(std::move(taken[i]));
                folders.push_back(std::move(takenFolders[i]));
            }
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
    std::vector<bool> named(worksheets.size(), false); // with --sheet
    for (const auto& choice : sheets) {
        const auto index = FindWorksheet(worksheets, choice);
        if (!index)
            throw std::runtime_error(shownName + ": there is no worksheet \"" + choice + "\" in it");
        keep[*index] = true;
        named[*index] = true;
    }
    if (!patterns.Empty()) {
        std::vector<std::string_view> names;
        for (size_t i = 0; i < worksheets.size(); ++i) {
            const std::string& name = worksheets[i].Name();
            keep[i] = keep[i] || patterns.Included(name);
            names.push_back(name);
        }
        for (const std::string& pattern : patterns.MatchingNone(names))
            warnings.push_back("the pattern " + pattern + " matches no worksheet in it");
    }
    // What another option leaves out of the worksheets named with --sheet is said, naming
    // both: a worksheet asked for never vanishes without a word.
    const auto leaveOut = [&](size_t i, const std::string& by) {
        if (keep[i] && named[i])
            warnings.push_back(
                "the worksheet \"" + worksheets[i].Name() + "\" named with --sheet is left out by " + by);
        keep[i] = false;
    };
    std::vector<size_t> numbers;
    std::vector<size_t> indexes;
    for (size_t i = 0; i < worksheets.size(); ++i) {
        if (const std::string pattern = patterns.ExcludedBy(worksheets[i].Name()); !pattern.empty())
            leaveOut(i, pattern);
        if (options.skipHidden && worksheets[i].Visibility() != spreadsheet::SheetVisibility::Visible)
            leaveOut(i, "--skip-hidden");
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
            text += "-\t" + Escaped(others[other].name) + '\t'
                + std::string(spreadsheet::VisibilityWord(others[other].visibility)) + '\t'
                + std::string(OtherKindWords(others[other].kind)) + '\n';
    };
    for (size_t i = 0; i < worksheets.size(); ++i) {
        listOthersBefore(i);
        const spreadsheet::CellRange range = worksheets[i].UsedRange();
        // Empty as the export judges it: a used range of A1 alone, holding no text.
        const bool empty = range.lastRow == 1 && range.lastColumn == 1 && worksheets[i].CellText(1, 1).empty();
        text += std::to_string(numbers.empty() ? i + 1 : numbers.at(i)) + '\t' + Escaped(worksheets[i].Name()) + '\t'
            + std::string(spreadsheet::VisibilityWord(worksheets[i].Visibility())) + '\t'
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
