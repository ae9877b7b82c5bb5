#include "worklist/FolderScan.h"

#include "core/Files.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

namespace vellumcast::worklist {

namespace {

char Folded(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Names in the order the file dialogs show them: letter case ignored, then byte order.
bool ListingOrder(const std::string& a, const std::string& b)
{
    const auto folded = [](const std::string& text) {
        std::string result = text;
        for (char& c : result)
            c = Folded(c);
        return result;
    };
    const std::string fa = folded(a);
    const std::string fb = folded(b);
    return fa != fb ? fa < fb : a < b;
}

// Every entry of folder except "." and "..", in listing order. Throws when the folder
// cannot be listed.
std::vector<core::FolderEntry> ListEntries(const std::string& folder)
{
    std::vector<core::FolderEntry> entries = core::ListFolder(folder);
    std::sort(entries.begin(), entries.end(),
        [](const core::FolderEntry& a, const core::FolderEntry& b) { return ListingOrder(a.name, b.name); });
    return entries;
}

// Iterative glob match, so a long name or many stars cannot recurse deeply.
bool GlobMatch(std::string_view pattern, std::string_view name)
{
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool HasWildcard(std::string_view text)
{
    return text.find_first_of("*?") != std::string_view::npos;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Folded(text[i]) != Folded(prefix[i]))
            return false;
    }
    return true;
}

} // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    if (GlobMatch(pattern, name))
        return true;
    // "*.*" and the like: the dot and what follows may be absent.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*"
        && GlobMatch(pattern.substr(0, pattern.size() - 2), name))
        return true;
    // The short-name rule: "*.xls" also takes "book.xlsx".
    const auto patternDot = pattern.rfind('.');
    const auto nameDot = name.rfind('.');
    if (patternDot == std::string_view::npos || nameDot == std::string_view::npos)
        return false;
    const std::string_view extension = pattern.substr(patternDot + 1);
    if (extension.size() != 3 || HasWildcard(extension))
        return false;
    const std::string_view nameExtension = name.substr(nameDot + 1);
    return nameExtension.size() > 3 && StartsWithIgnoringCase(nameExtension, extension)
        && GlobMatch(pattern.substr(0, patternDot), name.substr(0, nameDot));
}

void CollectSubfolders(std::vector<std::string>& folders, bool recurse, core::Pump& pump)
{
    std::set<std::pair<uint64_t, uint64_t>> seen;
    const auto firstVisit = [&](const std::string& path) {
        const auto identity = core::IdentityOf(path);
        return identity && seen.insert({ identity->device, identity->inode }).second;
    };
    for (const auto& folder : folders)
        firstVisit(folder);

    std::vector<std::string> level = folders;
    std::vector<std::string> found;
    while (!level.empty()) {
        std::vector<std::string> next;
        for (const auto& folder : level) {
            if (pump.StopRequested())
                break;
            std::vector<core::FolderEntry> entries;
            try {
                entries = ListEntries(folder);
            } catch (const core::FileError&) {
                // An unreadable folder has no subfolders to offer.
            }
            pump.Run();
            for (const auto& entry : entries) {
                pump.Run();
                const core::PathAttributes& attributes = entry.attributes;
                if (attributes.kind != core::PathAttributes::Kind::Folder || attributes.hidden || attributes.system)
                    continue;
                const std::string path = folder + entry.name;
                // A folder that cannot be listed has no files to give; leaving it out spares a
                // report for every such folder of the tree.
                if (core::CanListFolder(path) && firstVisit(path))
                    next.push_back(core::JoinPath(path, ""));
            }
        }
        for (const auto& folder : next) {
            pump.Run();
            found.push_back(folder);
        }
        if (!recurse || pump.StopRequested())
            break;
        level = std::move(next);
    }
    folders.insert(folders.end(), found.begin(), found.end());
}

std::vector<std::string> ListFolderFiles(std::string folder, std::string_view pattern)
{
    folder = core::JoinPath(folder, "");
    std::vector<std::string> files;
    for (auto& entry : ListEntries(folder)) {
        // Only regular files are workbooks: folders, broken links, sockets and entries that
        // cannot be examined are passed over without a word.
        if (entry.attributes.kind == core::PathAttributes::Kind::File && WildcardMatch(pattern, entry.name))
            files.push_back(std::move(entry.name));
    }
    return files;
}

std::string ComposePath(std::string_view member, std::string_view name)
{
    const std::string path = core::JoinPath(member, name);
    // A share's "\\server" keeps its two separators; every other pair is made one.
    const size_t keep = core::PathRootLength(path) > 2 && core::IsPathSeparator(path[1]) ? 2 : 1;
    std::string single;
    single.reserve(path.size());
    for (char c : path) {
        if (single.size() >= keep && core::IsPathSeparator(c) && core::IsPathSeparator(single.back()))
            continue;
        single += c;
    }
    return single;
}

bool IsHiddenWritableFile(const std::string& path)
{
    const auto attributes = core::AttributesOf(path);
    if (!attributes)
        throw core::FileError("File not found: " + path);
    return (attributes->hidden || attributes->system) && !attributes->readOnly;
}

std::string PatternForAnswer(std::string_view answer)
{
    // People type the extension as "xlsx", ".xlsx" or "*.xlsx"; all three mean the same.
    const auto first = answer.find_first_not_of(" \t");
    const auto last = answer.find_last_not_of(" \t");
    answer = first == std::string_view::npos ? std::string_view {} : answer.substr(first, last - first + 1);
    if (answer.size() > 2 && answer.substr(0, 2) == "*.")
        answer.remove_prefix(2);
    else if (answer.size() > 1 && answer.front() == '.')
        answer.remove_prefix(1);
    return "*." + std::string(answer);
}

void ImportFolder(WorkbookList& list, const std::string& folder, std::string_view pattern, core::StepRunner& run,
    core::Pump& pump, bool withSubfolders)
{
    std::vector<std::string> folders;
    run.SetScanContext("", "");
    run.Step(110, [&] { folders.push_back(core::JoinPath(folder, "")); });
    if (withSubfolders)
        run.Step(112, [&] { CollectSubfolders(folders, true, pump); });
    for (const auto& member : folders) {
        if (pump.StopRequested())
            break; // the entries found so far stay
        run.SetScanContext(member, "");
        std::string scanned;
        std::vector<std::string> names;
        run.Step(116, [&] { scanned = core::WithoutEndingSeparators(member); });
        run.Step(118, [&] { names = ListFolderFiles(scanned, pattern); });
        for (const auto& name : names) {
            run.SetScanContext(member, name);
            pump.Run();
            if (!run.Test(122, [&] { return name.front() != '~'; }))
                continue;
            std::string path;
            run.Step(124, [&] { path = ComposePath(member, name); });
            if (!run.Test(126, [&] { return !IsHiddenWritableFile(path); }))
                continue;
            run.Step(126, [&] { list.Append(path); });
        }
    }
}

void DropPaths(WorkbookList& list, const std::vector<std::string>& paths, core::Pump& pump)
{
    core::SilentReporter silent;
    core::StepRunner run(silent, "");
    for (const auto& path : paths) {
        if (pump.StopRequested())
            break;
        if (path.empty())
            continue;
        if (core::FolderExists(path)) {
            ImportFolder(list, path, "*.*", run, pump);
        } else {
            list.Append(path);
        }
    }
}

} // namespace vellumcast::worklist
