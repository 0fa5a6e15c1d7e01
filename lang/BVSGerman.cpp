// The German language module: nothing but resources and the two functions
// through which the program maps them under ":/BVSGerman/" and back.
#include <QResource>
#include <QString>
#include <QtGlobal>

extern const unsigned char bvsGermanRcc[];

namespace {
const QString kRoot = QStringLiteral("/BVSGerman");
}

extern "C" Q_DECL_EXPORT int bvsRegisterResources()
{
    return QResource::registerResource(bvsGermanRcc, kRoot) ? 1 : 0;
}

extern "C" Q_DECL_EXPORT int bvsUnregisterResources()
{
    return QResource::unregisterResource(bvsGermanRcc, kRoot) ? 1 : 0;
}
