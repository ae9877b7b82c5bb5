#include "results/SaveResults.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"

namespace vellumcast::results {

std::string SafeNamePart(const std::string& text)
{
    std::string safe = text;
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    return safe;
}

std::string SavedFileName(options::SaveMode mode, const exporting::ResultEntry& entry)
{
    std::string name = SafeNamePart(exporting::FileStem(entry.fileName));
    if (mode != options::SaveMode::AllSheets) {
        name += '_';
        name += SafeNamePart(entry.sheetName);
        if (mode == options::SaveMode::EachRow || mode == options::SaveMode::EachColumn) {
            name += '_';
            name += SafeNamePart(entry.ordinal);
        }
    }
    name += ".txt";
    return name;
}

SaveOutcome SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const exporting::ResultList& results, core::ErrorReporter& reporter, core::Pump& pump,
    std::vector<SavedFile>* saved)
{
    core::StepRunner run(reporter, core::LocationText("Form2", "PushButton6_Click"));
    bool exists = false;
    run.Step(106, [&] { exists = core::FolderExists(folder); });
    if (!exists)
        return SaveOutcome::FolderMissing;
    if (!mode)
        return SaveOutcome::Saved;
    // The all-sheets mode walks the results too, so a workbook without a result never
    // shifts the names of the others.
    const int writeStep = *mode == options::SaveMode::AllSheets ? 134
        : *mode == options::SaveMode::EachSheet                 ? 162
                                                                : 190;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const auto& entry : results) {
        pump.Run();
        const std::string path = prefix + SavedFileName(*mode, entry);
        const bool written = run.Step(writeStep, [&] { core::WriteTextFile(path, entry.text); });
        if (saved)
            saved->push_back({ path, written });
    }
    return SaveOutcome::Saved;
}

} // namespace vellumcast::results
