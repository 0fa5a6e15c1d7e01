#include <gtest/gtest.h>

#include <QAction>
#include <QString>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "WindowFixture.h"
#include "data/CBrivaneDoc.h"
#include "ui/ExportCommands.h"
#include "ui/StatusList.h"

namespace bv::test {
namespace {

std::string shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

std::string bytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t bigEndian(const std::string& b, size_t at)
{
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
           uint8_t(b[at + 3]);
}

QString q(const std::string& s) { return QString::fromStdString(s); }

int pages(const std::string& pdf)
{
    const std::string info = shell("pdfinfo " + pdf);
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// A measurement, then the File menu's exports: both plots as one PNG and as
// one PDF page, the points as CSV read back by Python's csv module, and an
// unwritable place refused with the reason shown.
TEST_F(WindowFixture, PlotsAsPngAndPdfAndPointsAsCsv)
{
    start();
    run(4000);
    world->meter().setLaserPower(1500);
    window->OnStartstop();
    run(20000);
    CExportCommands& exports = *window->exports();
    const int count = store().GetCount();
    ASSERT_GE(count, 10);

    ASSERT_TRUE(exports.savePlotsPng(q(dir.file("plots.png"))));
    const std::string png = bytes(dir.file("plots.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_GE(bigEndian(png, 16), 1000u);  // width
    EXPECT_GE(bigEndian(png, 20), 600u);   // height: both plots
    EXPECT_GT(png.size(), 5000u);

    ASSERT_TRUE(exports.savePlotsPdf(q(dir.file("plots.pdf"))));
    EXPECT_EQ(pages(dir.file("plots.pdf")), 1);
    EXPECT_NE(shell("pdfinfo " + dir.file("plots.pdf")).find("842 x 595"), std::string::npos);  // A4 landscape
    EXPECT_NE(shell("pdftotext " + dir.file("plots.pdf") + " -").find("Points: " + std::to_string(count)),
              std::string::npos);

    ASSERT_TRUE(exports.exportCsv(q(dir.file("points.csv"))));
    std::istringstream powers(shell("python3 " + std::string(BRIVANE_SOURCE_DIR) + "/tests/cli/csv_roundtrip.py " +
                                  dir.file("points.csv")));
    int rows = 0;
    for (std::string line; std::getline(powers, line); ++rows) {
        ASSERT_LT(rows, count) << line;
        EXPECT_EQ(std::stod(line), store().pGetMeaureValue(rows)->power) << "row " << rows;
    }
    EXPECT_EQ(rows, count);

    const size_t boxes = prompt.texts().size();
    EXPECT_FALSE(exports.exportCsv(q(dir.file("missing/points.csv"))));
    EXPECT_FALSE(exports.savePlotsPng(q(dir.file("missing/plots.png"))));
    ASSERT_EQ(prompt.texts().size(), boxes + 2);
    EXPECT_NE(prompt.texts()[boxes].find("No such file"), std::string::npos) << prompt.texts()[boxes];

    // The statistics box covers the same points.
    window->findChild<QAction*>(QStringLiteral("statisticsAction"))->trigger();
    ASSERT_EQ(prompt.texts().size(), boxes + 3);
    EXPECT_NE(prompt.texts().back().find("Points: " + std::to_string(count)), std::string::npos) << prompt.texts().back();
    EXPECT_NE(prompt.texts().back().find("Std. deviation: "), std::string::npos);
}

// A whole electronic calibration on the simulated EC meter, with some stray
// light on the absorber, then its report: one PDF page whose text carries
// the deviation and the verdict against the limit.
TEST_F(WindowFixture, CalibrationReportIsOnePageWithTheDeviationAndTheVerdict)
{
    writeIni("[Version]\nno=15\n[Setup]\ntime of thermalization=8\n[EC Power]\nDeviation Limit=1.5\n");
    start();
    run(4000);
    CExportCommands& exports = *window->exports();
    ASSERT_NE(exports.reportAction(), nullptr);
    EXPECT_FALSE(exports.reportAction()->isEnabled());
    EXPECT_FALSE(exports.saveCalibrationReport(q(dir.file("none.pdf"))));
    EXPECT_FALSE(std::ifstream(dir.file("none.pdf")).good());

    world->meter().setLaserPower(25);
    window->OnCalibration();
    ASSERT_TRUE(runUntil([&] { return device().m_bEcProtocol == 1; }, 5000));
    ASSERT_TRUE(runUntil([&] { return device().m_bEcProtocol == 0; }, 120000));
    const CalibrationResult& r = exports.calibration();
    ASSERT_TRUE(r.available);
    EXPECT_TRUE(exports.reportAction()->isEnabled());
    EXPECT_GT(r.ecPower, 100);
    EXPECT_GT(r.voltage, 1);
    EXPECT_GE(r.points.size(), 15u);  // thermalization and the averaging window
    // As the value area shows it at the end.
    EXPECT_DOUBLE_EQ(r.deviationPercent, (store().dGetAverage(0) - store().dGetAverage(4)) / store().dGetAverage(4) * 100);
    char deviation[32];
    std::snprintf(deviation, sizeof deviation, "%.2f %%", r.deviationPercent);

    // The verdict is on screen as well: the last status line and the value area.
    const std::string verdict = window->calibrationVerdict();
    EXPECT_NE(verdict.find(deviation), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("limit of 1.50 %"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find(std::fabs(r.deviationPercent) <= 1.5 ? "passed" : "FAILED"), std::string::npos) << verdict;
    const StatusList& list = *window->statusList();
    EXPECT_EQ(list.lineText(list.lineCount() - 1).toStdString(), verdict);
    EXPECT_EQ(window->valueAreaState().notice, verdict);
    EXPECT_FALSE(window->valueAreaState().live);

    const std::string pdf = dir.file("report.pdf");
    ASSERT_TRUE(exports.saveCalibrationReport(q(pdf)));
    EXPECT_EQ(pages(pdf), 1);
    const std::string text = shell("pdftotext -layout " + pdf + " -");
    EXPECT_NE(text.find(deviation), std::string::npos) << text;
    EXPECT_NE(text.find("1.50 %"), std::string::npos) << text;
    EXPECT_NE(text.find(std::fabs(r.deviationPercent) <= 1.5 ? "PASSED" : "FAILED"), std::string::npos) << text;
    EXPECT_NE(text.find("EC-Brivane"), std::string::npos) << text;
}

} // namespace
} // namespace bv::test
