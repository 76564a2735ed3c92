// The about window and the splash, and the artwork they show.
#include "ui/aboutdialog.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A handheld seen from the front: body, screen showing a frame of film,
// the four application buttons.
void DrawHandheld(QPainter& p, const QRectF& body) {
    QPainterPath shell;
    shell.addRoundedRect(body, body.width() * 0.12, body.width() * 0.12);
    QLinearGradient metal(body.topLeft(), body.bottomRight());
    metal.setColorAt(0, QColor(0x5a, 0x6b, 0x86));
    metal.setColorAt(1, QColor(0x26, 0x2f, 0x42));
    p.fillPath(shell, metal);
    const QRectF screen(body.left() + body.width() * 0.1, body.top() + body.height() * 0.08, body.width() * 0.8,
                        body.width() * 0.8);
    p.fillRect(screen, QColor(0x9c, 0xc3, 0x8f));
    // A film strip across the screen.
    const QRectF strip(screen.left(), screen.center().y() - screen.height() * 0.22, screen.width(), screen.height() * 0.44);
    p.fillRect(strip, QColor(0x1f, 0x26, 0x1d));
    for (int i = 0; i < 6; ++i) {
        const double x = strip.left() + strip.width() * (0.05 + i * 0.16);
        p.fillRect(QRectF(x, strip.top() + 2, strip.width() * 0.07, strip.height() * 0.12), QColor(0x9c, 0xc3, 0x8f));
        p.fillRect(QRectF(x, strip.bottom() - 2 - strip.height() * 0.12, strip.width() * 0.07, strip.height() * 0.12),
                   QColor(0x9c, 0xc3, 0x8f));
    }
    QPolygonF play;
    const QPointF c = strip.center();
    const double r = strip.height() * 0.25;
    play << QPointF(c.x() - r * 0.7, c.y() - r) << QPointF(c.x() - r * 0.7, c.y() + r) << QPointF(c.x() + r, c.y());
    p.setBrush(QColor(0xf2, 0xb7, 0x3b));
    p.setPen(Qt::NoPen);
    p.drawPolygon(play);
    for (int i = 0; i < 4; ++i) {
        const double x = body.left() + body.width() * (0.14 + i * 0.2);
        p.setBrush(QColor(0xcf, 0xd6, 0xe3));
        p.drawEllipse(QRectF(x, body.bottom() - body.height() * 0.12, body.width() * 0.12, body.width() * 0.12));
    }
}

} // namespace

QPixmap SplashPicture() {
    QPixmap picture(420, 220);
    picture.fill(QColor(0xf6, 0xf3, 0xea));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    DrawHandheld(p, QRectF(24, 18, 110, 184));
    p.setPen(QColor(0x26, 0x2f, 0x42));
    QFont title = p.font();
    title.setPointSize(22);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRectF(150, 50, 260, 40), Qt::AlignLeft | Qt::AlignVCenter, "Vantro Davavivi");
    QFont line = p.font();
    line.setPointSize(11);
    line.setBold(false);
    p.setFont(line);
    p.drawText(QRectF(150, 92, 260, 60), Qt::AlignLeft | Qt::TextWordWrap, "Movies and sound for Palm OS handhelds");
    return picture;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        DrawHandheld(p, QRectF(size * 0.2, size * 0.03, size * 0.6, size * 0.94));
        icon.addPixmap(pixmap);
    }
    return icon;
}

AboutDialog::AboutDialog(Mode mode, QWidget* parent) : QDialog(parent), picture_(new QLabel) {
    setWindowTitle("About Vantro Davavivi...");
    picture_->setPixmap(SplashPicture());
    picture_->installEventFilter(this);
    picture_->setCursor(Qt::PointingHandCursor);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_);
    layout->addWidget(new QLabel("Vantro Davavivi 2.0"));
    layout->addWidget(new QLabel("Turns movies and sound files into movie databases for Palm OS handhelds."));
    if (mode == Mode::Splash) {
        setWindowFlags(Qt::SplashScreen);
        QTimer::singleShot(kSplashMilliseconds, this, &QDialog::accept);
    }
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture_ && event->type() == QEvent::MouseButtonRelease) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
