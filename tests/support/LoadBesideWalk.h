#pragma once
// Sets how large a worksheet must be to load beside the walk for the life of a test, and
// puts the previous threshold back afterwards.

#include "spreadsheet/Workbook.h"

#include <cstdint>

namespace vellumcast::testing {

class ScopedLoadBesideWalkThreshold {
public:
    explicit ScopedLoadBesideWalkThreshold(uint64_t bytes)
        : m_previous(spreadsheet::LoadBesideWalkThreshold())
    {
        spreadsheet::SetLoadBesideWalkThreshold(bytes);
    }
    ~ScopedLoadBesideWalkThreshold() { spreadsheet::SetLoadBesideWalkThreshold(m_previous); }
    ScopedLoadBesideWalkThreshold(const ScopedLoadBesideWalkThreshold&) = delete;
    ScopedLoadBesideWalkThreshold& operator=(const ScopedLoadBesideWalkThreshold&) = delete;

private:
    uint64_t m_previous;
};

} // namespace vellumcast::testing
