// The German language module: nothing but resources and the two functions
// through which the program maps them under ":/BVSGerman/" and back.
#include <QResource>
#include <QString>
#include <QtGlobal>

extern const unsigned char bvsGermanRcc[];

namespace {
const QString kRoot = QStringLiteral("/BVSGerman");
}

// Looked for in the file before it is loaded: a module of another format is
// never mapped. Keep in step with LanguageModule::kMarker.
extern "C" Q_DECL_EXPORT const char bvsModuleMarker[] = "BVSGerman language module, format 1";

extern "C" Q_DECL_EXPORT int bvsRegisterResources()
{
    return QResource::registerResource(bvsGermanRcc, kRoot) ? 1 : 0;
}

extern "C" Q_DECL_EXPORT int bvsUnregisterResources()
{
    return QResource::unregisterResource(bvsGermanRcc, kRoot) ? 1 : 0;
}
