// Drives modal dialogs in tests: the action runs on the first modal window that appears, from
// inside its own event loop. A watchdog closes any modal still open after a few seconds, so a
// test that misses its dialog fails instead of hanging.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

inline void WhenModal(std::function<void(QWidget*)> action)
{
    auto timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            QPointer<QWidget> target(w);
            action(w);
            // the way out when the action left the dialog open
            QTimer::singleShot(3000, [target] {
                if (target && target->isVisible())
                    if (auto* d = qobject_cast<QDialog*>(target.data())) d->reject();
            });
            return;
        }
        if (clock->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

inline void PressKeyInModal(Qt::Key key)
{
    WhenModal([key](QWidget* w) { QTest::keyClick(w, key); });
}

// Clicks the named button of the modal dialog.
inline void ClickInModal(const char* buttonName)
{
    WhenModal([buttonName](QWidget* w) {
        if (auto* b = w->findChild<QAbstractButton*>(QString::fromLatin1(buttonName))) b->click();
        else if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
    });
}
