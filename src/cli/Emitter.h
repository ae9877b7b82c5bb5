#pragma once
// What each workbook of the command line gave, printed and saved in workbook order.

#include "cli/CommandLine.h"
#include "cli/Messages.h"
#include "cli/PathPrinter.h"
#include "cli/PrintingOutlet.h"
#include "cli/SavingOutlet.h"
#include "cli/SpooledResults.h"
#include "cli/StandardOutput.h"
#include "cli/Terminal.h"
#include "cli/Workbooks.h"
#include "core/Ports.h"
#include "results/SaveResults.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace vellumcast::cli {

// The results not written named at the end of a run, one line each; beyond them a count.
inline constexpr size_t kNotWrittenPrinted = 20;

// What one workbook gave: its texts as far as they were not passed on in its turn, and
// its messages, held until its turn to be printed.
struct WorkbookOutcome {
    SpooledResults results;
    std::string listing;
    std::string errors;
    std::string warnings;
    bool failed = false;
};

// The results a save did not write: how many and why, then each named on a line of its
// own, up to kNotWrittenPrinted of them, and how many more there are.
std::string NotWrittenLines(const results::SaveSummary& summary);

// The workbooks that are files, which no result may be saved over.
std::vector<std::string> InputFiles(const std::vector<std::string>& workbooks);

// Prints and saves the outcomes in workbook order, all of them as one save.
class Emitter {
public:
    Emitter(const CommandLineOptions& options, const std::vector<std::string>& workbooks,
        const std::vector<std::string>& folders, StandardOutput& out, Terminal& terminal)
        : m_options(options)
        , m_workbooks(workbooks)
        , m_folders(folders)
        , m_out(out)
        , m_terminal(terminal)
        , m_saveReporter(m_saveMessages, options.outputFolder)
        , m_printer(out)
    {
        if (!options.list && options.outputFolder != "-") {
            m_session = std::make_unique<results::SaveSession>(options.outputFolder, options.exportOptions.saveMode,
                InputFiles(workbooks),
                results::SavePorts { m_saveReporter, m_pump, options.quiet ? nullptr : &m_printer });
            m_session->SetNameTemplate(options.nameTemplate);
            // A text cut short is a result not written: a file is whole or not there.
            m_session->SetCutShortTexts(results::CutShortTexts::NotWritten);
            if (options.noClobber)
                m_session->SetExistingFiles(results::ExistingFiles::Keep);
            if (options.byteOrderMark)
                m_session->SetLeadingBytes(std::string(kByteOrderMark));
            m_saving = std::make_unique<SavingOutlet>(*m_session);
        } else if (!options.list) {
            m_printing = std::make_unique<PrintingOutlet>(out, options.byteOrderMark);
        }
    }

    // Where the texts of the workbook at index go in its turn; none when nothing is written.
    ResultOutlet* TurnOf(size_t index)
    {
        if (m_saving) {
            m_saving->SetWorkbook(ShownName(m_workbooks[index]), m_folders[index]);
            return m_saving.get();
        }
        return m_printing.get();
    }

    void Take(size_t index, WorkbookOutcome outcome)
    {
        const std::string& argument = m_workbooks[index];
        m_terminal.Error(outcome.errors);
        m_terminal.Note(outcome.warnings);
        m_ok = m_ok && !outcome.failed;
        if (m_options.list)
            m_exported += outcome.listing.empty() ? 0 : 1;
        for (size_t i = 0; i < outcome.results.size(); ++i)
            m_exported += outcome.results.TextSize(i) > 0 ? 1 : 0;
        if (m_options.list)
            PrintListing(argument, outcome);
        else if (m_session)
            Save(index, outcome.results);
        else
            WriteTexts(outcome.results);
    }

    // Says what the save came to beyond its reports; returns whether everything went well.
    bool Finish()
    {
        m_out.Flush();
        bool ok = m_ok;
        if (m_session) {
            const results::SaveSummary& summary = m_session->Summary();
            if (summary.renamed > 0)
                m_terminal.Note(ProgramLine(results::RenamedNotice(summary)));
            if (summary.notWritten > 0)
                m_terminal.Error(NotWrittenLines(summary));
            ok = ok && summary.notWritten == 0;
        }
        if (m_options.failEmpty && m_exported == 0) {
            m_terminal.Error(ProgramLine(
                m_options.list ? "no workbook was listed (--fail-empty)" : "no text was exported (--fail-empty)"));
            ok = false;
        }
        return ok;
    }

private:
    void PrintListing(const std::string& argument, const WorkbookOutcome& outcome)
    {
        if (outcome.failed && outcome.listing.empty())
            return;
        m_out.Write((m_listed++ > 0 ? "\n" : "") + Escaped(ShownName(argument)) + "\n" + outcome.listing);
    }

    // What of the workbook's texts its turn did not pass on yet, then what went wrong.
    void WriteTexts(SpooledResults& results)
    {
        results.PassOnRest(*m_printing);
        const std::string failures = m_printing->TakeFailures();
        m_terminal.Error(failures);
        m_ok = m_ok && failures.empty();
        m_out.Flush();
    }

    void Save(size_t index, SpooledResults& results)
    {
        m_saving->SetWorkbook(ShownName(m_workbooks[index]), m_folders[index]);
        results.PassOnRest(*m_saving);
        m_saving->RethrowFailure();
        m_out.Flush();
        m_terminal.Error(m_saveMessages);
        m_saveMessages.clear();
    }

    const CommandLineOptions& m_options;
    const std::vector<std::string>& m_workbooks;
    const std::vector<std::string>& m_folders; // each workbook's, relative to the folder searched
    StandardOutput& m_out;
    Terminal& m_terminal;
    std::string m_saveMessages;
    LineReporter m_saveReporter;
    core::NoPump m_pump;
    PathPrinter m_printer;
    std::unique_ptr<results::SaveSession> m_session;
    std::unique_ptr<SavingOutlet> m_saving;
    std::unique_ptr<PrintingOutlet> m_printing;
    bool m_ok = true;
    size_t m_listed = 0;
    size_t m_exported = 0; // the texts exported that hold anything, or the workbooks listed
};

} // namespace vellumcast::cli
