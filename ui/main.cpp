// vantro-davavivi: the window. Start-up as the command line's (components,
// resources, the engine checked, the settings of the last exit), the
// splash, the files named on the command line, the window, and the
// settings saved at the end into the store the command line reads.
#include <QApplication>
#include <QMessageBox>

#include "engine/app/startup.h"
#include "platform/preferences.h"
#include "ui/aboutdialog.h"
#include "ui/mainwindow.h"
#include "ui/texts.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vantro Davavivi");
    QApplication::setWindowIcon(ApplicationIcon());

    Application app;
    if (OSErr err = StartApplication(app)) {
        QMessageBox::critical(nullptr, "Vantro Davavivi",
                              Text(135, 4, "The conversion engine could not be opened.") + QString(" (error %1)").arg(err));
        return 1;
    }
    // What the preference store set aside, said once.
    for (const std::string& notice : TakePreferenceNotices())
        QMessageBox::warning(nullptr, "Vantro Davavivi", QString::fromStdString(notice));

    if (qEnvironmentVariableIsEmpty("VANTRO_NO_SPLASH")) {
        AboutDialog splash(AboutDialog::Mode::Splash);
        splash.exec();
    }
    MainWindow window(app);
    std::vector<FileSpec> named;
    for (const QString& argument : QApplication::arguments().mid(1)) named.emplace_back(argument.toStdString());
    window.AddFiles(named);
    window.show();
    const int status = QApplication::exec();
    if (OSErr err = SaveApplicationSettings(app))
        QMessageBox::warning(nullptr, "Vantro Davavivi", QString("The settings could not be kept (error %1).").arg(err));
    return status;
}
