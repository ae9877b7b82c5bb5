// Parsing the command line: long options ("--name value", "--name=value"), short ones
// ("-o DIR", "-oDIR", bundled flags such as "-rq"), "--" ending the options.

#include "cli/CommandLine.h"

#include "results/SaveResults.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <string_view>

#ifndef VELLUMCAST_VERSION
#define VELLUMCAST_VERSION "unknown"
#endif

namespace vellumcast::cli {

namespace {

using Apply = std::function<bool(CommandLineOptions&, const std::string& value, std::string& error)>;

struct OptionRule {
    std::string_view longName; // without "--"
    char shortName; // 0: none
    bool takesValue;
    Apply apply;
};

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

Apply Flag(bool CommandLineOptions::*member)
{
    return [member](CommandLineOptions& options, const std::string&, std::string&) {
        options.*member = true;
        return true;
    };
}

// A switch that sets one of the export options to value.
Apply ExportSwitch(bool options::ExportOptions::*member, bool value)
{
    return [member, value](CommandLineOptions& options, const std::string&, std::string&) {
        options.exportOptions.*member = value;
        return true;
    };
}

bool SetMode(CommandLineOptions& options, const std::string& value, std::string& error)
{
    using options::SaveMode;
    const std::vector<std::pair<std::string_view, SaveMode>> modes = { { "all", SaveMode::AllSheets },
        { "sheet", SaveMode::EachSheet }, { "row", SaveMode::EachRow }, { "column", SaveMode::EachColumn } };
    for (const auto& [word, mode] : modes) {
        if (value == word) {
            options.exportOptions.saveMode = mode;
            return true;
        }
    }
    error = "unknown mode \"" + value + "\" (all, sheet, row or column)";
    return false;
}

bool SetValues(CommandLineOptions& options, const std::string& value, std::string& error)
{
    if (value != "displayed" && value != "raw") {
        error = "unknown --values \"" + value + "\" (displayed or raw)";
        return false;
    }
    options.exportOptions.cellValues = value == "raw" ? options::CellValues::Raw : options::CellValues::Displayed;
    return true;
}

bool SetDates(CommandLineOptions& options, const std::string& value, std::string& error)
{
    if (value != "iso" && value != "displayed") {
        error = "unknown --dates \"" + value + "\" (iso or displayed)";
        return false;
    }
    options.isoDates = value == "iso";
    return true;
}

Apply AddPattern(bool (SheetPatterns::*add)(const std::string&, std::string&))
{
    return [add](CommandLineOptions& options, const std::string& value, std::string& error) {
        return (options.patterns.*add)(value, error);
    };
}

bool SetDivider(CommandLineOptions& options, const std::string& value, std::string& error)
{
    using options::DividerChoice;
    if (value.empty()) {
        error = "--divider needs a text: tab, comma, comma-space, space or the text itself";
        return false;
    }
    const std::vector<std::pair<std::string_view, DividerChoice>> words
        = { { "tab", DividerChoice::Tab }, { "\\t", DividerChoice::Tab }, { "comma", DividerChoice::Comma },
              { "comma-space", DividerChoice::CommaSpace }, { "space", DividerChoice::Space } };
    DividerChoice choice = DividerChoice::Other;
    for (const auto& [word, named] : words) {
        if (SameIgnoringCase(value, word))
            choice = named;
    }
    options.exportOptions.divider = options::DividerFor(choice, value);
    options.dividerGiven = true;
    return true;
}

// The divider of delimited text read: a name or one ASCII character.
bool SetInputDivider(CommandLineOptions& options, const std::string& value, std::string& error)
{
    const std::vector<std::pair<std::string_view, char>> words = { { "tab", '\t' }, { "\\t", '\t' }, { "comma", ',' },
        { "semicolon", ';' }, { "space", ' ' }, { "pipe", '|' } };
    for (const auto& [word, divider] : words) {
        if (SameIgnoringCase(value, word)) {
            options.delimitedText.divider = divider;
            return true;
        }
    }
    const bool oneCharacter = value.size() == 1 && static_cast<unsigned char>(value[0]) >= 0x20
        && static_cast<unsigned char>(value[0]) < 0x7F && value[0] != '"';
    if (!oneCharacter) {
        error = "--input-divider needs tab, comma, semicolon, space, pipe or one ASCII character other than a "
                "quote, not \""
            + value + "\"";
        return false;
    }
    options.delimitedText.divider = value[0];
    return true;
}

// The encoding of delimited text read.
bool SetInputEncoding(CommandLineOptions& options, const std::string& value, std::string& error)
{
    using spreadsheet::TextEncoding;
    const std::vector<std::pair<std::string_view, TextEncoding>> names
        = { { "utf-8", TextEncoding::Utf8 }, { "utf8", TextEncoding::Utf8 },
              { "windows-1252", TextEncoding::Windows1252 }, { "cp1252", TextEncoding::Windows1252 },
              { "utf-16le", TextEncoding::Utf16LE }, { "utf-16be", TextEncoding::Utf16BE },
              { "utf-32le", TextEncoding::Utf32LE }, { "utf-32be", TextEncoding::Utf32BE } };
    for (const auto& [name, encoding] : names) {
        if (SameIgnoringCase(value, name)) {
            options.delimitedText.encoding = encoding;
            return true;
        }
    }
    error
        = "unknown --input-encoding \"" + value + "\" (utf-8, windows-1252, utf-16le, utf-16be, utf-32le or utf-32be)";
    return false;
}

bool SetCellBreaks(CommandLineOptions& options, const std::string& value, std::string& error)
{
    using options::CellBreaks;
    const std::vector<std::pair<std::string_view, CellBreaks>> words
        = { { "keep", CellBreaks::Keep }, { "space", CellBreaks::Space }, { "escape", CellBreaks::Escape } };
    for (const auto& [word, breaks] : words) {
        if (value == word) {
            options.exportOptions.cellBreaks = breaks;
            return true;
        }
    }
    error = "unknown --cell-breaks \"" + value + "\" (keep, space or escape)";
    return false;
}

// Checks a file name template: only {book}, {ext}, {sheet}, {n}, {n:0W} and {dir} stand
// for something.
bool SetNameTemplate(CommandLineOptions& options, const std::string& value, std::string& error)
{
    if (const auto problem = results::NameTemplateProblem(value)) {
        error = "--name " + *problem;
        return false;
    }
    options.nameTemplate = value;
    return true;
}

bool SetJobs(CommandLineOptions& options, const std::string& value, std::string& error)
{
    unsigned jobs = 0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), jobs);
    if (failure != std::errc() || end != value.data() + value.size() || jobs == 0 || jobs > 1024) {
        error = "--jobs needs a number from 1 to 1024, not \"" + value + "\"";
        return false;
    }
    options.jobs = jobs;
    return true;
}

const std::vector<OptionRule>& Options()
{
    static const std::vector<OptionRule> rules = {
        { "mode", 'm', true, SetMode },
        { "divider", 'd', true, SetDivider },
        { "skip-blank", 0, false, ExportSwitch(&options::ExportOptions::includeBlankCells, false) },
        { "no-quotes", 0, false, ExportSwitch(&options::ExportOptions::quoteCells, false) },
        { "csv", 0, false, ExportSwitch(&options::ExportOptions::csvQuoting, true) },
        { "name", 0, true, SetNameTemplate },
        { "lf", 0, false, ExportSwitch(&options::ExportOptions::lineFeedOnly, true) },
        { "skip-empty-lines", 0, false, ExportSwitch(&options::ExportOptions::skipEmptyLines, true) },
        { "jsonl", 0, false,
            [](CommandLineOptions& o, const std::string&, std::string&) {
                o.exportOptions.lineFormat = options::LineFormat::JsonLines;
                return true;
            } },
        { "cell-breaks", 0, true, SetCellBreaks },
        { "values", 0, true, SetValues },
        { "dates", 0, true, SetDates },
        { "input-divider", 0, true, SetInputDivider },
        { "input-encoding", 0, true, SetInputEncoding },
        { "fill-merged", 0, false, ExportSwitch(&options::ExportOptions::fillMerged, true) },
        { "skip-hidden-rows", 0, false, ExportSwitch(&options::ExportOptions::skipHiddenRows, true) },
        { "skip-hidden-columns", 0, false, ExportSwitch(&options::ExportOptions::skipHiddenColumns, true) },
        { "bom", 0, false, Flag(&CommandLineOptions::byteOrderMark) },
        { "no-compute", 0, false, Flag(&CommandLineOptions::noCompute) },
        { "no-clobber", 0, false, Flag(&CommandLineOptions::noClobber) },
        { "fail-empty", 0, false, Flag(&CommandLineOptions::failEmpty) },
        { "output", 'o', true,
            [](CommandLineOptions& o, const std::string& value, std::string& error) {
                if (value.empty()) {
                    error = "--output needs a folder, or - for standard output";
                    return false;
                }
                o.outputFolder = value;
                return true;
            } },
        { "sheet", 's', true,
            [](CommandLineOptions& o, const std::string& value, std::string&) {
                o.sheets.push_back(value);
                return true;
            } },
        { "skip-hidden", 0, false, Flag(&CommandLineOptions::skipHidden) },
        { "include", 0, true, AddPattern(&SheetPatterns::AddInclude) },
        { "exclude", 0, true, AddPattern(&SheetPatterns::AddExclude) },
        { "list", 'l', false, Flag(&CommandLineOptions::list) },
        { "extension", 'e', true,
            [](CommandLineOptions& o, const std::string& value, std::string& error) {
                if (value.empty()) {
                    error = "--extension needs an extension such as xlsx";
                    return false;
                }
                o.extensions.push_back(value);
                return true;
            } },
        { "password-file", 0, true,
            [](CommandLineOptions& o, const std::string& value, std::string& error) {
                if (value.empty()) {
                    error = "--password-file needs a file holding the password";
                    return false;
                }
                o.passwordFile = value;
                return true;
            } },
        { "recursive", 'r', false, Flag(&CommandLineOptions::recursive) },
        { "jobs", 'j', true, SetJobs },
        { "quiet", 'q', false, Flag(&CommandLineOptions::quiet) },
        { "help", 'h', false, Flag(&CommandLineOptions::showHelp) },
        { "version", 'V', false, Flag(&CommandLineOptions::showVersion) },
    };
    return rules;
}

// The edit distance of two short texts, for suggesting the option that was meant.
size_t Distance(std::string_view a, std::string_view b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({ row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string UnknownOption(const std::string& given)
{
    std::string error = "unknown option " + given;
    const std::string_view name = std::string_view(given).substr(given.find_first_not_of('-'));
    const OptionRule* best = nullptr;
    size_t bestDistance = 3; // more edits than this is a different word
    for (const auto& rule : Options()) {
        const bool prefix = name.size() >= 2 && rule.longName.substr(0, name.size()) == name;
        const size_t distance = prefix ? 0 : Distance(name, rule.longName);
        if (distance < bestDistance) {
            best = &rule;
            bestDistance = distance;
        }
    }
    if (best)
        error += " (did you mean --" + std::string(best->longName) + "?)";
    return error;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& arguments)
        : m_arguments(arguments)
    {
    }

    std::optional<CommandLineOptions> Parse(std::string& error)
    {
        bool onlyFiles = false;
        for (m_next = 0; m_next < m_arguments.size();) {
            const std::string& argument = m_arguments[m_next++];
            bool ok = true;
            if (onlyFiles || argument.size() < 2 || argument[0] != '-')
                m_parsed.workbooks.push_back(argument);
            else if (argument == "--")
                onlyFiles = true;
            else if (argument[1] == '-')
                ok = ParseLong(argument, error);
            else
                ok = ParseShort(argument, error);
            if (!ok)
                return std::nullopt;
        }
        const bool exports = !m_parsed.showHelp && !m_parsed.showVersion;
        if (exports && m_parsed.workbooks.empty()) {
            error = "no workbook given";
            return std::nullopt;
        }
        // JSON has its own dividers and quotes: options of the text's would be lost on it.
        if (m_parsed.exportOptions.lineFormat == options::LineFormat::JsonLines) {
            for (size_t i = 0; i < std::size(kTextOnlyOptions); ++i) {
                if (m_textOnly[i]) {
                    error = "--jsonl cannot be given with --" + std::string(kTextOnlyOptions[i])
                        + ": JSON Lines have their own dividers and quotes";
                    return std::nullopt;
                }
            }
        }
        // Comma-separated values are separated by commas unless another divider is asked for.
        if (m_parsed.exportOptions.csvQuoting && !m_parsed.dividerGiven)
            m_parsed.exportOptions.divider = ",";
        // Raw values have their dates in ISO 8601 already.
        if (m_parsed.isoDates && m_parsed.exportOptions.cellValues == options::CellValues::Displayed)
            m_parsed.exportOptions.cellValues = options::CellValues::IsoDates;
        return m_parsed;
    }

private:
    bool ParseLong(const std::string& argument, std::string& error)
    {
        const auto equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const auto rule
            = std::find_if(Options().begin(), Options().end(), [&](const OptionRule& s) { return s.longName == name; });
        if (rule == Options().end()) {
            error = UnknownOption(argument.substr(0, equals));
            return false;
        }
        NoteTextOnly(rule->longName);
        if (!rule->takesValue) {
            if (equals != std::string::npos) {
                error = "--" + name + " takes no value";
                return false;
            }
            return rule->apply(m_parsed, {}, error);
        }
        if (equals != std::string::npos)
            return rule->apply(m_parsed, argument.substr(equals + 1), error);
        return ApplyNext(*rule, "--" + name, error);
    }

    // "-rq" sets both flags; in "-oDIR" or "-ro DIR" the option that takes a value ends the group.
    bool ParseShort(const std::string& argument, std::string& error)
    {
        for (size_t at = 1; at < argument.size(); ++at) {
            const auto rule = std::find_if(Options().begin(), Options().end(),
                [&](const OptionRule& s) { return s.shortName != 0 && s.shortName == argument[at]; });
            if (rule == Options().end()) {
                error = "unknown option -" + argument.substr(at, 1);
                return false;
            }
            NoteTextOnly(rule->longName);
            if (!rule->takesValue) {
                if (!rule->apply(m_parsed, {}, error))
                    return false;
                continue;
            }
            if (at + 1 < argument.size())
                return rule->apply(m_parsed, argument.substr(at + 1), error);
            return ApplyNext(*rule, std::string("-") + rule->shortName, error);
        }
        return true;
    }

    bool ApplyNext(const OptionRule& rule, const std::string& shown, std::string& error)
    {
        if (m_next >= m_arguments.size()) {
            error = shown + " needs a value";
            return false;
        }
        return rule.apply(m_parsed, m_arguments[m_next++], error);
    }

    void NoteTextOnly(std::string_view name)
    {
        for (size_t i = 0; i < std::size(kTextOnlyOptions); ++i)
            m_textOnly[i] = m_textOnly[i] || kTextOnlyOptions[i] == name;
    }

    // The options of how text lines are written, which JSON Lines cannot honour.
    static constexpr std::string_view kTextOnlyOptions[] = { "divider", "no-quotes", "csv" };

    const std::vector<std::string>& m_arguments;
    size_t m_next = 0;
    CommandLineOptions m_parsed;
    bool m_textOnly[std::size(kTextOnlyOptions)] {}; // which of them were given
};

} // namespace

std::optional<CommandLineOptions> ParseArguments(const std::vector<std::string>& arguments, std::string& error)
{
    return Parser(arguments).Parse(error);
}

std::string VersionText()
{
    return std::string("vellumcast-cli ") + VELLUMCAST_VERSION + "\n";
}

std::string UsageText()
{
    return "Usage: vellumcast-cli [OPTIONS] WORKBOOK|FOLDER|-...\n"
           "Exports every cell of each workbook, as displayed, into .txt files.\n"
           "\n"
           "  -m, --mode all|sheet|row|column   one text per workbook (default), worksheet, row or column\n"
           "  -d, --divider tab|comma|comma-space|space|TEXT\n"
           "                                what stands between neighbouring cells (default: tab;\n"
           "                                with --csv: comma); \\t is a tab too\n"
           "      --skip-blank              leave blank cells out (default: keep them)\n"
           "      --no-quotes               do not wrap cells in double quotes (default: quote)\n"
           "      --csv                     comma-separated values: quote only cells holding the\n"
           "                                divider, a quote, CR or LF, doubling their quotes\n"
           "      --jsonl                   JSON Lines: each line a JSON array of its cells (typed\n"
           "                                with --values raw: numbers, true/false, null for blank);\n"
           "                                with -m all a line {\"sheet\": NAME} starts each worksheet\n"
           "      --lf                      end lines in LF (default: CR LF; always with --jsonl)\n"
           "      --cell-breaks keep|space|escape\n"
           "                                line breaks inside a cell: kept (default), each made one\n"
           "                                space, or written \\r and \\n (a backslash as \\\\)\n"
           "      --skip-empty-lines        leave out lines whose cells are all blank (and the\n"
           "                                files of such rows and columns)\n"
           "      --values displayed|raw    cells as displayed (default) or raw: numbers as the\n"
           "                                shortest decimal that reads back the same, dates and\n"
           "                                times in ISO 8601, TRUE/FALSE, error codes, text as is\n"
           "      --dates iso|displayed     as displayed, but dates and times in ISO 8601, e.g.\n"
           "                                2026-12-09 (durations such as [h]:mm stay displayed);\n"
           "                                displayed: as the cell shows them (default)\n"
           "      --input-divider tab|comma|semicolon|space|pipe|CHAR\n"
           "                                the divider of delimited text read (default: a first\n"
           "                                line sep=X, else as its name and lines show)\n"
           "      --input-encoding utf-8|windows-1252|utf-16le|utf-16be|utf-32le|utf-32be\n"
           "                                the encoding of delimited text read (default: as its\n"
           "                                byte-order mark and content show)\n"
           "      --fill-merged             every cell of a merged area gives the text of its\n"
           "                                first cell (and counts as holding text)\n"
           "      --skip-hidden-rows        leave out the rows the workbook hides; rows and\n"
           "                                columns keep their numbers in file names\n"
           "      --skip-hidden-columns     leave out the columns the workbook hides\n"
           "      --bom                     start every file with a UTF-8 byte-order mark; with\n"
           "                                -o -, standard output once. For texts the\n"
           "                                spreadsheet application or Notepad will open, which\n"
           "                                may read UTF-8 without it in the local code page\n"
           "      --no-compute              leave formulas saved without a value blank rather than\n"
           "                                compute them (either way a warning counts those blank)\n"
           "  -o, --output DIR|-            folder for the .txt files (default: the current folder;\n"
           "                                made with its parents when missing); - writes the\n"
           "                                texts to standard output, one after another\n"
           "      --no-clobber              keep files already in the folder: a new text takes the\n"
           "                                next free name, NAME (2).txt and so on\n"
           "      --name TEMPLATE           name the files from {book}, {ext}, {sheet}, {n} and\n"
           "                                {n:03} (the number padded to 3 digits), e.g.\n"
           "                                \"{book}.{ext}_{sheet}\" (.txt is added); a leading\n"
           "                                {dir}/ puts each in the folder its workbook was found\n"
           "                                in below the folder searched, made in DIR\n"
           "      --fail-empty              exit with 1 when nothing was exported (no workbook\n"
           "                                found, no worksheet chosen or holding anything)\n"
           "  -s, --sheet NAME|N            export only this worksheet (repeatable; N counts from 1,\n"
           "                                hidden worksheets included); --exclude or --skip-hidden\n"
           "                                leaving it out is warned of\n"
           "      --include REGEX           export the worksheets whose names REGEX matches, beside\n"
           "                                those named with --sheet (repeatable; RE2 syntax, as\n"
           "                                grep -E; matching anywhere in a name), e.g. \"^Q[1-4]$\"\n"
           "      --exclude REGEX           leave out the worksheets whose names REGEX matches\n"
           "                                (repeatable), e.g. Draft\n"
           "      --skip-hidden             leave hidden worksheets out\n"
           "  -l, --list                    list each workbook's worksheets and export nothing\n"
           "  -e, --extension EXT           what a folder search takes (repeatable; default: the\n"
           "                                workbook formats; .xml, .txt, .tsv and .tab only when\n"
           "                                named; xls also takes .xlsx, .xlsm and .xlsb)\n"
           "      --password-file FILE      open encrypted workbooks with the password in FILE (its\n"
           "                                first line); VELLUMCAST_PASSWORD holds one too. Those\n"
           "                                encrypted with the default key open without either\n"
           "  -r, --recursive               search folders with their subfolders\n"
           "  -j, --jobs N                  workbooks exported at once (default: the number of cores)\n"
           "  -q, --quiet                   print only errors: no file names, warnings or progress\n"
           "  -h, --help                    show this text\n"
           "  -V, --version                 show the version\n"
           "\n"
           "A WORKBOOK of - is read from standard input and named stdin, as is one named by\n"
           "<(...); a pipe or terminal named by its path is read the same way, up to 2 GiB. A\n"
           "FOLDER is searched for workbooks; names starting with ~, hidden folders, the output\n"
           "folder and the texts this command writes there are left out, so a run again reads\n"
           "only workbooks. On Windows, whose shells pass them on, wildcards in a WORKBOOK\n"
           "(*.xlsx) are expanded.\n"
           "Reads xlsx, xlsm, xltx, xltm, xlam, xlsb, xls, xlt, ods, ots, fods, XML spreadsheets of\n"
           "2003 and delimited text (csv, tsv, txt, tab, any other name), recognised by content.\n"
           "For pipelines: --csv --lf -m sheet -o -, or --jsonl -o -. Where every digit counts,\n"
           "add --values raw: as displayed, a General number takes at most 11 characters, as in\n"
           "the application (4006381333931 shows as 4.00638E+12).\n"
           "Exit status: 0 all exported; 1 a workbook, a file, the output folder or standard\n"
           "output failed, or with --fail-empty nothing was exported; 2 bad usage; 128+N ended\n"
           "by signal N (SIGINT, SIGTERM) once the file under way was whole.\n";
}

} // namespace vellumcast::cli
