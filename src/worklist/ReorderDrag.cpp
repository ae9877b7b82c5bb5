#include "worklist/ReorderDrag.h"

namespace vellumcast::worklist {

void ReorderDrag::ItemClicked(const WorkbookList& list, std::optional<size_t> selected)
{
    if (selected && *selected < list.Count())
        m_dragged = list.Id(*selected);
    else
        m_dragged.reset();
}

std::optional<ReorderDrag::Swap> ReorderDrag::PointerMoved(
    WorkbookList& list, std::optional<size_t> underPointer, int screenY)
{
    if (!m_buttonDown || !underPointer || !m_dragged || *underPointer >= list.Count())
        return std::nullopt;
    const auto dragged = list.PositionOf(*m_dragged);
    if (!dragged)
        return std::nullopt;
    const size_t target = *underPointer;
    if (list.Text(*dragged) == list.Text(target))
        return std::nullopt;
    std::string kept = list.Text(*dragged);
    list.SetText(*dragged, list.Text(target));
    list.SetText(target, std::move(kept));
    m_dragged = list.Id(target);

    Swap swap { target, std::nullopt };
    if (screenY < kScrollUpBelow) {
        if (target >= 1)
            swap.scrollTo = target - 1;
    } else if (screenY > kScrollDownAbove && target + 1 < list.Count()) {
        swap.scrollTo = target + 1;
    }
    return swap;
}

} // namespace vellumcast::worklist
