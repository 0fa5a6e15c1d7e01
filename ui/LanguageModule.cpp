#include "ui/LanguageModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTranslator>

#include <cstring>
#include <elf.h>

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

bool LanguageModule::fileLooksUsable(const QString& path, QString* why)
{
    auto refuse = [&](const char* reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse("cannot be read");
    const QByteArray data = file.readAll();
    const auto size = static_cast<quint64>(data.size());
    if (size < sizeof(Elf64_Ehdr) || std::memcmp(data.constData(), ELFMAG, SELFMAG) != 0)
        return refuse("not a shared library");

    // The machine and word size the program itself was built for.
    QFile self(QStringLiteral("/proc/self/exe"));
    Elf64_Ehdr header{};
    std::memcpy(&header, data.constData(), sizeof header);
    Elf64_Ehdr ownHeader{};
    if (self.open(QIODevice::ReadOnly) &&
        self.read(reinterpret_cast<char*>(&ownHeader), sizeof ownHeader) == qint64(sizeof ownHeader)) {
        if (header.e_ident[EI_CLASS] != ownHeader.e_ident[EI_CLASS] ||
            header.e_ident[EI_DATA] != ownHeader.e_ident[EI_DATA] || header.e_machine != ownHeader.e_machine)
            return refuse("built for another machine");
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_type != ET_DYN)
        return refuse("not a shared library for this program");

    auto inside = [size](quint64 offset, quint64 length) { return offset <= size && length <= size - offset; };
    if (header.e_phentsize != sizeof(Elf64_Phdr) ||
        !inside(header.e_phoff, quint64(header.e_phnum) * sizeof(Elf64_Phdr)))
        return refuse("truncated (program headers)");
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr ph{};
        std::memcpy(&ph, data.constData() + header.e_phoff + quint64(i) * sizeof ph, sizeof ph);
        if (ph.p_type == PT_LOAD && !inside(ph.p_offset, ph.p_filesz))
            return refuse("truncated");
    }
    if (header.e_shoff != 0 && !inside(header.e_shoff, quint64(header.e_shnum) * header.e_shentsize))
        return refuse("truncated (section headers)");
    if (!data.contains(QByteArray(kMarker)))
        return refuse("not a language module of this program's format");
    return true;
}

namespace {
QLocale& currentUiLocale()
{
    static QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}
} // namespace

QLocale LanguageModule::uiLocale() { return currentUiLocale(); }

bool LanguageModule::tryLoad(std::unique_ptr<QLibrary> library)
{
    // Only files we found ourselves are checked; a bare name is the loader's to search.
    const QFileInfo info(library->fileName());
    QString why;
    if (info.isAbsolute() && info.exists() && !fileLooksUsable(info.absoluteFilePath(), &why)) {
        BV_LOG_ERROR(logger(), kTag,
                     "language module not used: " << info.absoluteFilePath().toStdString() << " is "
                                                  << why.toStdString() << "; the program stays in English");
        return false;
    }
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
            if (!translator->language().isEmpty())
                currentUiLocale() = QLocale(translator->language());
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
    currentUiLocale() = QLocale(QLocale::English, QLocale::UnitedStates);
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
