#include "platform/ScriptedDialogs.h"

namespace platform {

namespace {
template <typename T> T TakeOr(std::deque<T>& queue, T fallback) {
    if (queue.empty()) {
        return fallback;
    }
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}
} // namespace

MbResult ScriptedDialogs::MessageBox(QWidget*, const QString& text, const QString& caption,
                                     MbIcon icon, MbButtons buttons, MbResult defaultButton) {
    boxes.append({text, caption, icon, buttons});
    return TakeOr(answers, defaultButton);
}

QStringList ScriptedDialogs::OpenFiles(QWidget*, const FileDialogRequest& request) {
    fileRequests.append(request);
    return TakeOr(openAnswers, QStringList());
}

QString ScriptedDialogs::SaveFile(QWidget*, const FileDialogRequest& request) {
    fileRequests.append(request);
    return TakeOr(saveAnswers, QString());
}

QString ScriptedDialogs::BrowseFolder(QWidget*, const QString&, const QString&) {
    return TakeOr(folderAnswers, QString());
}

int ScriptedDialogs::ExecModal(QWidget* dialog) {
    modalDialogs.append(dialog);
    return onModal ? onModal(dialog) : 0;
}

QStringList ScriptedDialogs::BoxTexts() const {
    QStringList texts;
    for (const RecordedBox& box : boxes) {
        texts << box.text;
    }
    return texts;
}

} // namespace platform
