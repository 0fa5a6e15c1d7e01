#include <QApplication>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "res/Version.h"
#include "ui/BrivaneApp.h"

int main(int argc, char** argv)
{
    // Answered before Qt starts: no display is needed for these.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << bv::versionText("brivane") << "\n";
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << bv::usage();
            return 0;
        }
    }
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("BrivaneSoftware"));
    QCoreApplication::setApplicationName(QStringLiteral("BrivaneSoftware"));

    // Qt has taken its own options out of argv by now.
    std::vector<std::string> args(argv, argv + argc);
    const bv::ParsedArguments parsed = bv::parseArguments(args);
    if (parsed.help) {
        std::cout << bv::usage();
        return 0;
    }
    if (!parsed.error.empty()) {
        std::cerr << "brivane: " << parsed.error << "\n\n" << bv::usage();
        return 2;
    }
    bv::BrivaneApp app(parsed.options);
    return app.Run(QCoreApplication::applicationDirPath().toStdString());
}
