#include <QApplication>

#include "gui/content_view.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Korvane Connector");
    korvane::connector::ContentView window;
    window.show();
    return QApplication::exec();
}
