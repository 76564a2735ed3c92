// "About Vantro Davavivi...": the splash picture and two lines of text.
// As the splash at start-up it closes by itself after four seconds or at a
// click on the picture; from "About…" it stays until the picture is clicked.
#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Splash, About };
    AboutDialog(Mode mode, QWidget* parent = nullptr);
    QLabel* Picture() const { return picture_; }

    // How long the splash stays, in milliseconds.
    static constexpr int kSplashMilliseconds = 4000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* picture_;
};

// The application's artwork, drawn rather than shipped as pictures.
QPixmap SplashPicture();
QIcon ApplicationIcon();
