#pragma once
#include <QLocale>
#include <QPixmap>
#include <QString>
#include <map>
#include <memory>
#include <string>

class QLibrary;
class QTranslator;

namespace bv {

// The optional resource-only language module (libBVSGerman.so /
// BVSGerman.dll). Loading it registers its resources under kRoot; then its
// Qt translation is installed and its string table replaces ours. Without
// it everything stays as built in. The application object owns one and
// unloads it at shutdown.
class LanguageModule {
public:
    static constexpr const char* kName = "BVSGerman";
    static constexpr const char* kRoot = ":/BVSGerman/";
    static constexpr const char* kTranslation = ":/BVSGerman/BVSGerman.qm";
    static constexpr const char* kStringTable = ":/BVSGerman/strings.txt";
    static constexpr const char* kRegisterSymbol = "bvsRegisterResources";
    static constexpr const char* kUnregisterSymbol = "bvsUnregisterResources";
    static constexpr const char* kMarker = "BVSGerman language module, format 1";

    LanguageModule();
    ~LanguageModule();
    LanguageModule(const LanguageModule&) = delete;
    LanguageModule& operator=(const LanguageModule&) = delete;

    // Beside the executable first, then the installed library folder, then
    // the system search path. False (and
    // nothing changed) when no module is found or it is not one of ours.
    bool load();
    // One file, or a directory that holds the module.
    bool load(const QString& fileOrDirectory);
    void unload();
    bool loaded() const { return m_library != nullptr; }
    QString fileName() const;

    // The locale of the texts in force (the module's language while one is
    // loaded, English otherwise): numbers the operator types follow it.
    static QLocale uiLocale();

    // A bitmap by name: the module's first, then the program's own
    // resources (":/bitmaps/<name>.png"), then `own`.
    static QPixmap pixmap(const QString& name, const QPixmap& own = {});

    // "number<TAB>text" lines; \n, \t and \\ stand for themselves escaped.
    // Lines without a number and a tab are skipped.
    static std::map<unsigned, std::string> parseStringTable(const QByteArray& data);

    // Whether the file may be handed to the loader at all: a whole ELF
    // object for this machine, every loaded part inside the file, our
    // marker in it. A truncated file would crash the loader (SIGBUS).
    static bool fileLooksUsable(const QString& path, QString* why = nullptr);

private:
    bool tryLoad(std::unique_ptr<QLibrary> library);

    std::unique_ptr<QLibrary> m_library;
    std::unique_ptr<QTranslator> m_translator;
};

} // namespace bv
