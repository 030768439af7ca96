// NettlebeamManager: registers the types that travel through queued signals,
// then runs the main window.
#include <QApplication>
#include <memory>

#include "mainwindow.h"
#include "managermetatypes.h"

int main(int argc, char** argv) {
    registerManagerMetaTypes();
    QApplication application(argc, argv);
    int status = 0;
    {
        // The window goes before the application object.
        auto window = std::make_unique<MainWindow>();
        window->show();
        status = application.exec();
    }
    return status;
}
