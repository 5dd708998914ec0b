#pragma once
// One offscreen QApplication for a widget test binary, input events sent
// straight to widgets, and the folder the screenshots are kept in. (Qt's own
// test header brings Qt's thread class, which the engine's shadows, so the
// few input helpers needed are here.)
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <cmath>
#include <memory>

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "ui_test";
        static char *argv[] = {name, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
        application->setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { application.reset(); }

private:
    std::unique_ptr<QApplication> application;
};

inline ::testing::Environment *const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

inline void SendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF global = widget->mapToGlobal(QPointF(at));
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), global, type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void Click(QWidget *widget, QPoint at)
{
    SendMouse(widget, QEvent::MouseButtonPress, at);
    SendMouse(widget, QEvent::MouseButtonRelease, at);
}

inline void ClickButton(QWidget *button)
{
    Click(button, button->rect().center());
}

inline void SendKey(QWidget *widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// One wheel notch away from the user (up) or towards (down), where the
// wheel reaches a scroll area: its viewport.
inline void SendWheel(QWidget *widget, bool up)
{
    const QPointF at = QPointF(widget->rect().center());
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, up ? 120 : -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// Keeps an image under the build tree's artifact folder and returns its path.
inline QString KeepArtifact(const QImage &image, const QString &name)
{
    QDir().mkpath(QL_ARTIFACT_DIR);
    const QString path = QString(QL_ARTIFACT_DIR) + "/" + name + ".png";
    image.save(path);
    return path;
}

inline double Luminance(const QColor &colour)
{
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

// The contrast ratio of two colours (1 to 21).
inline double Contrast(const QColor &a, const QColor &b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
