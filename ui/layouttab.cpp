// The Layout tab and its preview.
#include "ui/layouttab.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/media.h"
#include "ui/texts.h"

namespace {

constexpr ResID kLayoutTexts = 246;
// How near a corner a press resizes rather than moves, in widget pixels.
constexpr int kCornerReach = 8;

QRectF ToRectF(const Rect& r) { return QRectF(r.left, r.top, r.Width(), r.Height()); }

QColor ToQColor(const LayoutColour& c) { return QColor(c.red >> 8, c.green >> 8, c.blue >> 8); }

} // namespace

// ---- The preview ----

LayoutPreview::LayoutPreview(const LayoutModel& layout, const EditSettings& settings, QWidget* parent)
    : QWidget(parent), layout_(layout), settings_(settings) {
    setMouseTracking(true);
    setMinimumSize(200, 200);
}

double LayoutPreview::Scale() const {
    return std::min((width() - 8.0) / std::max<int>(1, layout_.width), (height() - 8.0) / std::max<int>(1, layout_.height));
}

QPointF LayoutPreview::ToWidget(double x, double y) const {
    const double s = Scale();
    return {(width() - layout_.width * s) / 2 + x * s, (height() - layout_.height * s) / 2 + y * s};
}

QPoint LayoutPreview::ToLayout(const QPointF& p) const {
    const QPointF origin = ToWidget(0, 0);
    const double s = Scale();
    return {static_cast<int>(std::lround((p.x() - origin.x()) / s)), static_cast<int>(std::lround((p.y() - origin.y()) / s))};
}

void LayoutPreview::SetPoster(const QImage& poster) {
    poster_ = poster;
    update();
}

void LayoutPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double s = Scale();
    p.translate(ToWidget(0, 0));
    p.scale(s, s);
    p.fillRect(QRectF(0, 0, layout_.width, layout_.height), ToQColor(layout_.background));
    // The control margins, where the player draws its buttons.
    const LayoutMargins m = ControlMargins(layout_, settings_);
    const QColor margin(0x50, 0x50, 0x50, 0x90);
    p.fillRect(QRectF(0, 0, layout_.width, m.top), margin);
    p.fillRect(QRectF(0, layout_.height - m.bottom, layout_.width, m.bottom), margin);
    p.fillRect(QRectF(0, 0, m.left, layout_.height), margin);
    p.fillRect(QRectF(layout_.width - m.right, 0, m.right, layout_.height), margin);
    if (!layout_.picture.Empty()) {
        const Rect& r = dragging_ && which_ == LayoutObject::Picture ? shown_ : layout_.picture;
        if (const QString file = QString::fromStdString(layout_.pictureFile); file != pictureFile_) {
            pictureFile_ = file;
            picture_ = QImage(file);
        }
        if (picture_.isNull()) p.fillRect(ToRectF(r), Qt::lightGray);
        else p.drawImage(ToRectF(r), picture_);
    }
    if (!layout_.movie.Empty()) {
        const Rect& r = dragging_ && which_ == LayoutObject::Movie ? shown_ : layout_.movie;
        if (poster_.isNull()) p.fillRect(ToRectF(r), QColor(0x26, 0x2f, 0x42));
        else p.drawImage(ToRectF(r), poster_);
        p.setPen(QPen(QColor(0xf2, 0xb7, 0x3b), 0));
        p.drawRect(ToRectF(r));
    }
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0, 0, layout_.width, layout_.height));
    // The movie's size in the widget's own type size, not scaled with the screen.
    if (!layout_.movie.Empty()) {
        const Rect& r = dragging_ && which_ == LayoutObject::Movie ? shown_ : layout_.movie;
        p.resetTransform();
        // On a dark label, readable over any poster.
        const QRectF movie(ToWidget(r.left, r.top), ToWidget(r.right, r.bottom));
        const QString size = resizing_ ? resizeText_ : QString("%1 x %2").arg(r.Width()).arg(r.Height());
        const QRectF label = p.fontMetrics().boundingRect(size).adjusted(-4, -2, 4, 2).toRectF();
        p.fillRect(label.translated(movie.center() - label.center()), QColor(0x26, 0x2f, 0x42, 0xc0));
        p.setPen(QColor(0xf2, 0xb7, 0x3b));
        p.drawText(movie, Qt::AlignCenter, size);
    }
}

void LayoutPreview::mousePressEvent(QMouseEvent* event) {
    if (!LayoutItemsEnabling(layout_, settings_).preview) return;
    const QPoint at = ToLayout(event->position());
    const auto inside = [&](const Rect& r) { return at.x() >= r.left && at.x() < r.right && at.y() >= r.top && at.y() < r.bottom; };
    // The movie lies over the picture: it is found first.
    for (LayoutObject which : {LayoutObject::Movie, LayoutObject::Picture}) {
        const Rect& r = which == LayoutObject::Movie ? layout_.movie : layout_.picture;
        if (r.Empty() || !inside(r)) continue;
        which_ = which;
        start_ = shown_ = r;
        grabbed_ = at;
        dragging_ = true;
        const QPointF corner = ToWidget(r.right, r.bottom);
        resizing_ = std::abs(event->position().x() - corner.x()) <= kCornerReach && std::abs(event->position().y() - corner.y()) <= kCornerReach;
        return;
    }
}

Rect LayoutPreview::Proposed(const QPoint& at) const {
    const int dx = at.x() - grabbed_.x(), dy = at.y() - grabbed_.y();
    if (resizing_) return {start_.left, start_.top, start_.right + dx, start_.bottom + dy};
    return {start_.left + dx, start_.top + dy, start_.right + dx, start_.bottom + dy};
}

void LayoutPreview::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        // A hand over what can be moved, the resize arrows over its corner.
        const QPoint at = ToLayout(event->position());
        Qt::CursorShape shape = Qt::ArrowCursor;
        for (const Rect& r : {layout_.movie, layout_.picture}) {
            if (r.Empty() || at.x() < r.left || at.x() >= r.right || at.y() < r.top || at.y() >= r.bottom) continue;
            const QPointF corner = ToWidget(r.right, r.bottom);
            const bool atCorner = std::abs(event->position().x() - corner.x()) <= kCornerReach &&
                                  std::abs(event->position().y() - corner.y()) <= kCornerReach;
            shape = atCorner ? Qt::SizeFDiagCursor : Qt::OpenHandCursor;
            break;
        }
        setCursor(shape);
        return;
    }
    const Rect proposed = Proposed(ToLayout(event->position()));
    shown_ = resizing_ ? AllowedResize(layout_, settings_, which_, proposed) : AllowedMove(layout_, settings_, which_, proposed);
    resizeText_ = QString("(%1 x %2)").arg(shown_.Width()).arg(shown_.Height());
    update();
}

void LayoutPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const Rect proposed = Proposed(ToLayout(event->position()));
    dragging_ = resizing_ = false;
    emit placed(which_, proposed);
    update();
}

// ---- The tab ----

LayoutTab::LayoutTab(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, AtomContainer& container, QWidget* parent)
    : QWidget(parent), layout_(layout), settings_(settings), menus_(menus), container_(container) {
    preview_ = new LayoutPreview(layout_, settings_);
    choose_ = new QPushButton("Choose Background Image…");
    clear_ = new QPushButton("Clear Background Image");
    swatch_ = new QPushButton;
    swatch_->setFixedSize(48, 24);
    controls_ = new QCheckBox("Show movie controls");
    layoutSize_ = new QComboBox;
    movieSize_ = new QComboBox;
    reset_ = new QPushButton("Reset to Default Layout");

    auto* background = new QFormLayout;
    background->addRow(new QLabel(Text(kLayoutTexts, 6, "Background")));
    background->addRow(choose_);
    background->addRow(clear_);
    background->addRow(Text(kLayoutTexts, 1, "Select Background Color"), swatch_);
    auto* dimensions = new QFormLayout;
    dimensions->addRow(new QLabel(Text(kLayoutTexts, 2, "Dimensions (in pixels)")));
    dimensions->addRow(Text(kLayoutTexts, 3, "Layout (screen size):"), layoutSize_);
    dimensions->addRow(Text(kLayoutTexts, 4, "Movie (video size):"), movieSize_);
    dimensions->addRow(controls_);
    dimensions->addRow(reset_);
    auto* side = new QVBoxLayout;
    side->addLayout(background);
    side->addSpacing(12);
    side->addLayout(dimensions);
    side->addStretch();
    auto* row = new QHBoxLayout(this);
    row->addWidget(preview_, 1);
    row->addLayout(side);

    connect(preview_, &LayoutPreview::placed, this, [this](LayoutObject which, Rect proposed) {
        PlaceObject(layout_, settings_, menus_, which, proposed);
        Show();
        emit edited();
    });
    connect(choose_, &QPushButton::clicked, this, &LayoutTab::ChoosePicture);
    connect(clear_, &QPushButton::clicked, this, [this] {
        ClearBackgroundPicture(layout_);
        Show();
        emit edited();
    });
    connect(swatch_, &QPushButton::clicked, this, &LayoutTab::ChooseColour);
    connect(controls_, &QCheckBox::toggled, this, [this](bool on) {
        if (filling_) return;
        SetShowControls(layout_, settings_, on);
        Show();
        emit edited();
    });
    connect(layoutSize_, &QComboBox::activated, this, [this](int) {
        if (ChooseLayoutSize(layout_, settings_, menus_, layoutSize_->currentText().toStdString())) emit edited();
        Show();
    });
    connect(movieSize_, &QComboBox::activated, this, [this](int) {
        if (ChooseMovieSize(layout_, settings_, menus_, movieSize_->currentText().toStdString())) emit edited();
        Show();
    });
    connect(reset_, &QPushButton::clicked, this, [this] {
        if (ResetLayout(layout_, settings_, menus_, container_) == noErr) emit edited();
        Show();
    });
    Show();
}

void LayoutTab::Show() {
    filling_ = true;
    const auto fill = [](QComboBox* box, const SizePopup& popup) {
        box->clear();
        for (const std::string& item : popup.items) box->addItem(QString::fromStdString(item));
        box->setCurrentIndex(popup.selected);
    };
    fill(layoutSize_, LayoutSizePopup(layout_, settings_));
    fill(movieSize_, MovieSizePopup(settings_));
    const LayoutEnabling e = LayoutItemsEnabling(layout_, settings_);
    controls_->setChecked(layout_.showControls);
    controls_->setEnabled(e.showControls);
    choose_->setEnabled(e.chooseBackground);
    clear_->setEnabled(e.clearBackground);
    swatch_->setEnabled(e.colourSwatch);
    swatch_->setStyleSheet(QString("background-color: %1").arg(ToQColor(layout_.background).name()));
    filling_ = false;
    preview_->update();
}

void LayoutTab::SetPicture(const QString& file) {
    QImageReader reader(file);
    const QSize natural = reader.size();
    if (!natural.isValid()) return;
    SetBackgroundPicture(layout_, settings_, menus_, file.toStdString(), natural.width(), natural.height());
    Show();
    emit edited();
}

void LayoutTab::ChoosePicture() {
    QStringList patterns;
    for (const std::string_view ext : MediaFileExtensions())
        if (ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "gif" || ext == "bmp" || ext == "tif" || ext == "tiff" || ext == "webp")
            patterns << QString("*.%1").arg(QString::fromUtf8(ext.data(), static_cast<int>(ext.size())));
    const QString file = QFileDialog::getOpenFileName(this, "Choose Background Image", {},
                                                      QString("Pictures (%1)").arg(patterns.join(' ')));
    if (!file.isEmpty()) SetPicture(file);
}

void LayoutTab::ChooseColour() {
    const QColor chosen = QColorDialog::getColor(ToQColor(layout_.background), this, Text(kLayoutTexts, 1, "Select Background Color"));
    if (!chosen.isValid()) return;
    const auto wide = [](int c) { return static_cast<std::uint16_t>(c << 8 | c); };
    SetBackgroundColour(layout_, settings_, menus_, {wide(chosen.red()), wide(chosen.green()), wide(chosen.blue())});
    Show();
    emit edited();
}
