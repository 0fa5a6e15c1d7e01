#pragma once
#include <QCoreApplication>
#include <QString>

namespace bv {

// The operator window's control ids (those of its dialog template), its
// menu commands and the parts one update can redraw: shared by the window,
// its panels and the tests, so the panels need not know the window.
struct WindowIds {
    enum ControlId : int {
        kIdValueArea = 1218,
        kIdControlGroup = 1243,
        kIdShutterPicture = 1103,
        kIdShutterButton = 1168,
        kIdStartStop = 1104,
        kIdCalibration = 1166,
        kIdModeCurrent = 1207,
        kIdModeMin = 1208,
        kIdModeMax = 1209,
        kIdModeAverage = 1210,
        kIdTimeLabel = 1247,
        kIdAveragingList = 1232,
        kIdZeroLabel = 1246,
        kIdZeroEdit = 1100,
        kIdZeroApply = 1128,
        kIdZeroTake = 1101,
        kIdScaleGroup = 1242,
        kIdPowerRadio = 1219,
        kIdFlowRadio = 1213,
        kIdTeRadio = 1214,
        kIdTdRadio = 1215,
        kIdEcPowerRadio = 1228,
        kIdPowerText = 1220,
        kIdFlowText = 1109,
        kIdTeText = 1110,
        kIdTdText = 1111,
        kIdEcPowerText = 1229,
        kIdClear = 1171,
        kIdPowerScaleLabel = 1245,
        kIdScaleAutomatic = 1094,
        kIdScale200 = 1095,
        kIdScale500 = 1097,
        kIdStatusList = 1231,
        kIdPowerGraph = 1235,
        kIdPeriodLabel = 1244,
        kIdPeriodList = 1233,
        kIdAdditionalGraph = 1236,
    };
    enum Command : int {
        kCmdSettings = 32774,
        kCmdProtocol = 32806,
        kCmdFreeComm = 32772,
        kCmdCommPort = 32773,
        kCmdTestComm = 1105,
        kCmdLinkReset = 32817,
        kCmdSettingsOnly = 1088,
    };
    enum Part : int {
        kPartShutter = 1,
        kPartButtons = 2,
        kPartValueArea = 4,
        kPartValueTexts = 8,
        kPartZero = 16,
        kPartModelControls = 32,
        kPartCaption = 64,
        kPartStatus = 128,
        kPartAll = 255,
        kPartNewPoint = 175,  // all but the zero edit and the caption
    };
};

// A text of the window's, translated in the window's context.
inline QString windowText(const char* text) { return QCoreApplication::translate("bv::CBrivaneMain", text); }

} // namespace bv
