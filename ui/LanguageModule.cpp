#include "ui/LanguageModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTranslator>

#include "platform/Logging.h"
#include "platform/ProgramPaths.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger l("CBrivaneApp");
    return l;
}
constexpr const char* kTag = "BV_main";

using RegisterFn = int (*)();

QString unescape(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out.append(c);
            continue;
        }
        const char next = text[++i];
        switch (next) {
        case 'n': out.append('\n'); break;
        case 't': out.append('\t'); break;
        case '\\': out.append('\\'); break;
        default: out.append('\\').append(next); break;
        }
    }
    return QString::fromUtf8(out);
}

} // namespace

LanguageModule::LanguageModule() = default;

LanguageModule::~LanguageModule()
{
    unload();
}

QString LanguageModule::fileName() const
{
    return m_library ? m_library->fileName() : QString();
}

bool LanguageModule::load()
{
    if (loaded())
        return true;
    if (QCoreApplication::instance()) {
        // Beside the program (a build or a copied folder), then where an install puts it.
        const QString dir = QCoreApplication::applicationDirPath();
        if (load(dir) || load(QString::fromStdString(ProgramPaths::installedLibraryDir(dir.toStdString()))))
            return true;
    }
    // The plain name lets the loader search its usual path.
    return tryLoad(std::make_unique<QLibrary>(QLatin1String(kName)));
}

bool LanguageModule::load(const QString& fileOrDirectory)
{
    if (loaded())
        return true;
    const QFileInfo info(fileOrDirectory);
    if (!info.isDir())
        return info.exists() && tryLoad(std::make_unique<QLibrary>(info.absoluteFilePath()));
    const QDir dir(info.absoluteFilePath());
    for (const QString& name : {QStringLiteral("lib%1.so").arg(QLatin1String(kName)),
                                QStringLiteral("%1.dll").arg(QLatin1String(kName))}) {
        if (dir.exists(name) && tryLoad(std::make_unique<QLibrary>(dir.filePath(name))))
            return true;
    }
    return false;
}

bool LanguageModule::tryLoad(std::unique_ptr<QLibrary> library)
{
    if (!library->load()) {
        BV_LOG_DEBUG(logger(), kTag, "language module not loaded: " << library->errorString().toStdString());
        return false;
    }
    auto registerResources = reinterpret_cast<RegisterFn>(library->resolve(kRegisterSymbol));
    if (!registerResources || !library->resolve(kUnregisterSymbol) || !registerResources()) {
        BV_LOG_ERROR(logger(), kTag, "not a language module: " << library->fileName().toStdString());
        library->unload();
        return false;
    }
    m_library = std::move(library);

    if (QCoreApplication::instance()) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QLatin1String(kTranslation))) {
            QCoreApplication::installTranslator(translator.get());
            m_translator = std::move(translator);
        }
    }
    QFile table{QString::fromLatin1(kStringTable)};
    if (table.open(QIODevice::ReadOnly))
        strings::setOverrides(parseStringTable(table.readAll()));
    BV_LOG_INFO(logger(), kTag, "language module loaded: " << m_library->fileName().toStdString());
    return true;
}

void LanguageModule::unload()
{
    if (!m_library)
        return;
    // The translator reads the module's memory: it goes before the module does.
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    strings::setOverrides({});
    if (auto unregisterResources = reinterpret_cast<RegisterFn>(m_library->resolve(kUnregisterSymbol)))
        unregisterResources();
    m_library->unload();
    m_library.reset();
}

QPixmap LanguageModule::pixmap(const QString& name, const QPixmap& own)
{
    for (const QString& path : {QLatin1String(kRoot) + QStringLiteral("bitmaps/") + name + QStringLiteral(".png"),
                                QStringLiteral(":/bitmaps/") + name + QStringLiteral(".png")}) {
        if (QFile::exists(path)) {
            QPixmap pm(path);
            if (!pm.isNull())
                return pm;
        }
    }
    return own;
}

std::map<unsigned, std::string> LanguageModule::parseStringTable(const QByteArray& data)
{
    std::map<unsigned, std::string> table;
    for (QByteArray line : data.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0)
            continue;
        bool ok = false;
        const unsigned id = line.left(tab).trimmed().toUInt(&ok);
        if (!ok)
            continue;
        table[id] = unescape(line.mid(tab + 1)).toStdString();
    }
    return table;
}

} // namespace bv
