#include "devices/MeterModel.h"

namespace bv {
namespace {

// The compact model is tried first: its answer may also hold the other words.
constexpr MeterModelTraits kModels[] = {
    {MeterKind::Compact, "CompactBrivane", "CBV", "CompactBrivane", "V 2.", false, false, true},
    {MeterKind::EC, "EC-Brivane", "EC-BV", "EC-Brivane", nullptr, true, true, false},
    {MeterKind::Plain, "Brivane", "BV", nullptr, nullptr, false, true, false},
};

} // namespace

const MeterModelTraits& meterModel(MeterKind kind)
{
    for (const MeterModelTraits& m : kModels)
        if (m.kind == kind)
            return m;
    return kModels[2];
}

const MeterModelTraits* identifiedModels(int& count)
{
    count = 2;
    return kModels;
}

} // namespace bv
