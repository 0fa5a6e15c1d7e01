#include "ui/AboutDialog.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "ui/LanguageModule.h"

namespace bv {

AboutPicture::AboutPicture(QWidget* parent)
    : QWidget(parent), m_bitmap(LanguageModule::pixmap(QString::number(kBitmap), AboutDialog::emblem()))
{
    setObjectName(QStringLiteral("aboutPicture"));
    setProperty("controlId", static_cast<int>(kId));
    // Everything is painted from the buffer: no background erase in between.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize AboutPicture::sizeHint() const
{
    return m_bitmap.isNull() ? QSize(64, 64) : m_bitmap.deviceIndependentSize().toSize();
}

QPixmap AboutPicture::render() const
{
    QPixmap buffer(size());
    buffer.fill(palette().color(QPalette::Window));
    QPainter p(&buffer);
    p.setClipRect(rect());
    p.drawPixmap(0, 0, m_bitmap);
    return buffer;
}

void AboutPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, render());
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), m_picture(new AboutPicture)
{
    setWindowTitle(tr("About %1").arg(QLatin1String(kProgramName)));
    setModal(true);

    auto* name = new QLabel(tr("%1 Version %2").arg(QLatin1String(kProgramName), QLatin1String(kVersion)));
    name->setObjectName(QStringLiteral("programNameLabel"));
    auto* created = new QLabel(tr("Created :"));
    created->setObjectName(QStringLiteral("createdLabel"));
    auto* date = new QLabel(buildDate());
    date->setObjectName(QStringLiteral("buildDateLabel"));
    auto* systems = new QLabel(tr("For Linux and Windows"));
    systems->setObjectName(QStringLiteral("systemsLabel"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(tr("OK"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setProperty("controlId", static_cast<int>(kIdOk));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* createdRow = new QHBoxLayout;
    createdRow->addWidget(created);
    createdRow->addWidget(date);
    createdRow->addStretch();
    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addLayout(createdRow);
    texts->addWidget(systems);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(m_picture);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

QString AboutDialog::buildDate()
{
    // __DATE__ is "Mmm dd yyyy" with a blank-padded day.
    const QString text = QString::fromLatin1(__DATE__).simplified();
    const QDate date = QLocale::c().toDate(text, QStringLiteral("MMM d yyyy"));
    return date.isValid() ? date.toString(Qt::ISODate) : text;
}

QPixmap AboutDialog::emblem()
{
    constexpr int kSize = 64;
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // Absorber housing with a water inlet and outlet.
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(210, 210, 215));
    p.drawRoundedRect(QRectF(6, 10, 52, 44), 6, 6);
    p.setBrush(QColor(60, 120, 200));
    p.drawRect(QRectF(1, 40, 6, 6));
    p.drawRect(QRectF(57, 40, 6, 6));

    // Dial with a scale from 7 to 5 o'clock and the needle near full scale.
    const QPointF centre(32, 36);
    const double radius = 18;
    p.setBrush(Qt::white);
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    for (int i = 0; i <= 8; ++i) {
        const double a = (225.0 - i * 33.75) * M_PI / 180.0;
        const QPointF dir(std::cos(a), -std::sin(a));
        p.drawLine(centre + dir * (radius - 4), centre + dir * (radius - 1));
    }
    const double needle = (225.0 - 6.5 * 33.75) * M_PI / 180.0;
    p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, centre + QPointF(std::cos(needle), -std::sin(needle)) * (radius - 3));
    p.setBrush(QColor(40, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, 2.5, 2.5);

    // The laser beam entering from the top.
    p.setPen(QPen(QColor(230, 40, 40), 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(32, 0), QPointF(32, 12));
    return pm;
}

} // namespace bv
