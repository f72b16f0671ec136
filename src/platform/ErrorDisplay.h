#pragma once
// The application object: an exception that no handler caught ends up here and is
// shown in an error box titled "Vellorine"; the program then goes on with the next event.
//
// Events reach it through QApplication::notify, but a signal connected directly to a slot
// calls the slot without any event: such a slot is connected through Guarded(...), which
// sends what it throws to the same display. GUI thread only.
#include <QApplication>
#include <QString>
#include <concepts>
#include <functional>
#include <utility>

namespace platform {

// The text shown for an uncaught error: "." is appended when the last character
// sorts after ".".
QString ErrorDisplayText(const QString& message);

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    static void ShowException(const QString& message);
};

// Shows the exception being handled (call inside a catch block) in the error display.
void ShowCurrentException();

// A slot that shows what it throws in the error display instead of letting it escape
// from the signal's emit. Callable with any arguments fn accepts, so Qt can connect it
// to signals with more arguments than the slot takes.
template <class Fn> class GuardedSlot {
public:
    explicit GuardedSlot(Fn fn) : fn_(std::move(fn)) {}
    template <class... Args>
    requires std::invocable<const Fn&, Args...>
    void operator()(Args&&... args) const {
        try {
            std::invoke(fn_, std::forward<Args>(args)...);
        } catch (...) {
            ShowCurrentException();
        }
    }

private:
    Fn fn_;
};

template <class Fn> GuardedSlot<Fn> Guarded(Fn fn) {
    return GuardedSlot<Fn>(std::move(fn));
}

// Guarded(this, &Window::Handler) for a member function.
template <class Object, class Method> auto Guarded(Object* object, Method method) {
    return Guarded(std::bind_front(method, object));
}

// Lets TThread::Synchronize reach the GUI thread of this application.
void InstallSynchronizeDispatcher();

} // namespace platform
