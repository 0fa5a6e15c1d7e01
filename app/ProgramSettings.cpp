#include "app/ProgramSettings.h"

#include "res/StringTable.h"

namespace bv {

ProgramSettings::ProgramSettings() { ResetToInitial(); }

ProgramSettings& ProgramSettings::Instance()
{
    static ProgramSettings settings;
    return settings;
}

void ProgramSettings::ResetToInitial()
{
    const std::string dir = m_sProgramDir;
    *this = ProgramSettings(ProgramSettings::Blank{});
    m_sProgramDir = dir;

    static const double initialDetectors[4][4] = {
        {10, -0.1, 3500, 0.1}, {0, 0, 0, 0}, {22, -0.16, 6, -0.12}, {3500, 0.1, 0, 0}};
    for (int i = 0; i < 10; ++i) {
        DetectorEntry& d = m_detectors[i];
        if (i < 4) {
            d.tau1 = initialDetectors[i][0];
            d.scale1 = initialDetectors[i][1];
            d.tau2 = initialDetectors[i][2];
            d.scale2 = initialDetectors[i][3];
        }
        d.defined = i < 4;
        d.name = strings::text(61221 + i);
    }
    for (int i = 0; i < 10; ++i) {
        m_triggerModes[i].name = strings::text(61233 + i);
        m_triggerModes[i].inUse = i < 9;
    }
    for (int i = 0; i < 16; ++i) {
        m_sOutputNames[i] = "Port " + std::to_string(i);
        m_sInputNames[i] = "Port " + std::to_string(i);
    }
}

} // namespace bv
