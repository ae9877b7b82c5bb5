#pragma once
// Reordering the list by dragging an entry: the dragged path trades places with each
// entry it passes over. A swap of two texts, not a shift: a pointer that jumps over
// several entries swaps only the two ends. Entries are compared by text, so a path never
// trades places with an equal one.

#include "worklist/WorkbookList.h"

#include <optional>

namespace vellumcast::worklist {

class ReorderDrag {
public:
    // The pointer's screen rows (pixels from the top of the screen) outside which a swap
    // scrolls the neighbouring entry into view.
    static constexpr int kScrollUpBelow = 305;
    static constexpr int kScrollDownAbove = 364;

    // An entry was clicked: the selected entry becomes the dragged one.
    void ItemClicked(const WorkbookList& list, std::optional<size_t> selected);
    void ButtonPressed() { m_buttonDown = true; }
    void ButtonReleased() { m_buttonDown = false; }
    bool ButtonDown() const { return m_buttonDown; }

    struct Swap {
        size_t select; // the dragged path's new position
        std::optional<size_t> scrollTo; // the entry to scroll into view, if any
    };

    // The pointer moved over the list, above the entry at underPointer (none over empty
    // space), at screenY. Swaps the dragged entry with that entry when the button is held,
    // both exist and their texts differ. A dragged entry removed since it was picked swaps
    // nothing.
    std::optional<Swap> PointerMoved(WorkbookList& list, std::optional<size_t> underPointer, int screenY);

private:
    std::optional<EntryId> m_dragged;
    bool m_buttonDown = false;
};

} // namespace vellumcast::worklist
