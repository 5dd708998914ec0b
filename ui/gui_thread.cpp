#include "ui/gui_thread.h"

#include <QCoreApplication>
#include <QThread>

bool OnGuiThread()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}
