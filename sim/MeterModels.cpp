#include "sim/MeterModels.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace bv::sim {

namespace {

constexpr std::array<MeterModelInfo, 3> kModels{{
    {MeterModel::Plain, "plain", "Ready Brivane V 1.3", "2.1", false, ShutterKind::Motorised,
     4.0, 4.5, 6000.0},
    {MeterModel::EC, "ec", "Ready EC-Brivane V 2.1", "3.4", true, ShutterKind::Motorised,
     4.0, 4.5, 6000.0},
    {MeterModel::Compact, "compact", "Ready CompactBrivane V 2.0 build 0417", "1.2", false,
     ShutterKind::External, 1.5, 2.5, 2000.0},
}};

} // namespace

std::span<const MeterModelInfo> meterModels()
{
    return kModels;
}

const MeterModelInfo& meterModel(MeterModel model)
{
    for (const auto& m : kModels)
        if (m.model == model)
            return m;
    return kModels.front();
}

std::optional<MeterModel> meterModelFromKey(std::string_view key)
{
    for (const auto& m : kModels) {
        if (m.key.size() == key.size()
            && std::equal(key.begin(), key.end(), m.key.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               }))
            return m.model;
    }
    return std::nullopt;
}

} // namespace bv::sim
