#pragma once
// Character references to control characters in XML spreadsheets of 2003. The
// application writes a control character of a cell's text as a reference (&#7;), which
// the XML rules forbid and every XML reader refuses; the application reads it back as
// the character. So that one such cell costs nothing of the document, the references
// are rewritten on their way to the XML reader into references to private characters
// that the rules allow, and those characters are turned back into the control
// characters in the text read.

#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::spreadsheetml {

// Rewrites the references a document's pieces hold, piece by piece: a reference cut
// between two pieces is held back and joined to the next.
class ControlReferences {
public:
    // The piece with &#N; and &#xN; of a control character other than tab, line feed and
    // carriage return rewritten; the piece itself when it holds none. The view lasts
    // until the next call. final marks the document's last piece.
    std::string_view Rewrite(std::string_view piece, bool final);

private:
    std::string m_held; // the start of a reference the last piece ended in
    std::string m_out;
};

// Appends text, with the private characters the rewrite gave turned back into the
// control characters they stand for.
void AppendRestoringControls(std::string_view text, std::string& out);

} // namespace vellumcast::spreadsheet::spreadsheetml
