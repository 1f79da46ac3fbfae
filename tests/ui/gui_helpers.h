#pragma once
// Driving modal windows from a test: a modal exec() blocks the test, so the action is
// queued to run once the window shows up inside that exec().

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>
#include <functional>
#include <ostream>

// Failure messages show texts as text, not as UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace kerbilo::testing {

// Runs `act` on the first widget that `find` yields, polling every few milliseconds for up
// to two seconds. Returns immediately; `act` runs from the event loop.
inline void whenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, find, act] {
        QWidget* w = find();
        if (!w && clock->elapsed() < 2000) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (w) act(w);
    });
    timer->start();
}

template <class T>
void whenModal(std::function<void(T*)> act) {
    whenShown([] { return dynamic_cast<T*>(QApplication::activeModalWidget()); },
              [act](QWidget* w) { act(static_cast<T*>(w)); });
}

inline void whenPopUp(std::function<void(QMenu*)> act) {
    // Only once it is laid out can an item be clicked where it is.
    whenShown(
        []() -> QWidget* {
            auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            return m && m->isVisible() && !m->actions().isEmpty() &&
                           !m->actionGeometry(m->actions().first()).isEmpty()
                       ? m
                       : nullptr;
        },
        [act](QWidget* w) { act(static_cast<QMenu*>(w)); });
}

inline QLineEdit* fileNameEdit(QFileDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

inline void pressButton(QMessageBox* box, QMessageBox::StandardButton which) {
    if (QAbstractButton* b = box->button(which)) b->click();
}

// Chooses an item the way a user does, so exec() reports it (QAction::trigger() would not).
// By keyboard: a menu ignores a click until the mouse has moved since it opened.
inline void choose(QMenu* menu, QAction* item) {
    menu->setActiveAction(item);
    QTest::keyClick(menu, Qt::Key_Return);
}
inline void choose(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text) return choose(menu, a);
    menu->close();
}

// Lets the event loop run until `done` holds or the time is up; returns whether it holds.
template <class F>
bool waitUntil(F done, int ms = 2000) {
    return QTest::qWaitFor(done, ms);
}

}  // namespace kerbilo::testing
