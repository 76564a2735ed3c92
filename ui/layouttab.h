// The Layout tab: a scaled preview of the handheld's screen in which the
// movie and the background picture are dragged and resized with the mouse,
// and the items around it (background picture and colour, movie controls,
// the two size popups, "Reset to Default Layout"). The rules — margins,
// rounding, minimum sizes, what stays inside the content area, the 'PRES'
// atom — are the engine's (engine/app/layouteditor.h); the tab draws and
// passes the user's gestures on.
#pragma once

#include <QImage>
#include <QWidget>

#include "engine/app/layouteditor.h"

class QCheckBox;
class QComboBox;
class QPushButton;

class LayoutPreview : public QWidget {
    Q_OBJECT
public:
    LayoutPreview(const LayoutModel& layout, const EditSettings& settings, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {340, 340}; }
    // Where a point of the layout is drawn, and the reverse.
    QPointF ToWidget(double x, double y) const;
    QPoint ToLayout(const QPointF& point) const;
    // What the live resize shows: "(w x h)".
    QString ResizeText() const { return resizeText_; }
    // The first listed movie's poster frame, drawn in the movie's place.
    void SetPoster(const QImage& poster);
    const QImage& Poster() const { return poster_; }

signals:
    // A drag or a resize ended: the proposed rectangle.
    void placed(LayoutObject which, Rect proposed);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double Scale() const;
    Rect Proposed(const QPoint& at) const;

    const LayoutModel& layout_;
    const EditSettings& settings_;
    bool dragging_ = false, resizing_ = false;
    LayoutObject which_ = LayoutObject::Movie;
    QPoint grabbed_;
    Rect start_, shown_;
    QString resizeText_;
    QImage poster_;
    // The background picture, read once per file.
    mutable QString pictureFile_;
    mutable QImage picture_;
};

class LayoutTab : public QWidget {
    Q_OBJECT
public:
    // The tab edits `layout` and `settings` in place, marking the preset
    // menus customised where an edit calls for it.
    LayoutTab(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, AtomContainer& container,
              QWidget* parent = nullptr);
    // Shows the layout and the settings again (after a preset was chosen).
    void Show();
    LayoutPreview* Preview() const { return preview_; }
    QCheckBox* ShowControlsBox() const { return controls_; }
    QComboBox* LayoutSizeMenu() const { return layoutSize_; }
    QComboBox* MovieSizeMenu() const { return movieSize_; }
    QPushButton* ResetButton() const { return reset_; }
    // A picture dropped on the tab becomes the background.
    void SetPicture(const QString& file);

signals:
    // Something changed that the preset menus or other tabs show.
    void edited();

private:
    void ChoosePicture();
    void ChooseColour();

    LayoutModel& layout_;
    EditSettings& settings_;
    PresetMenus& menus_;
    AtomContainer& container_;
    LayoutPreview* preview_;
    QPushButton *choose_, *clear_, *swatch_, *reset_;
    QCheckBox* controls_;
    QComboBox *layoutSize_, *movieSize_;
    bool filling_ = false;
};
