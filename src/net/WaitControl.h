// The wait control as the socket component sees it. TCustomWait (Wait.h, a widget in its own
// library) implements it; the socket's WaitCtrl property holds a pointer to this interface, so the
// socket library itself links no widgets. When the control is destroyed, every socket that
// refers to it clears its WaitCtrl reference.
#pragma once

#include <QString>

#include <vector>

class TCustomWSocket;

class TWaitControl {
public:
    TWaitControl() = default;
    TWaitControl(const TWaitControl&) = delete;
    TWaitControl& operator=(const TWaitControl&) = delete;
    virtual ~TWaitControl();

    // Starts the countdown from the count in Caption (15 when it holds none).
    virtual void Start() = 0;
    // Ends the countdown: ModalResult 1, the caption back to the starting count.
    virtual void Stop() = 0;
    // The modal wait: swallows user input, keeps processing events, returns when the countdown
    // is no longer running (after Stop or at the end of the count).
    virtual void RunWait() = 0;
    virtual void RestoreCaption() = 0;
    virtual bool Running() const = 0;

    virtual QString Caption() const = 0;
    virtual void SetCaption(const QString& caption) = 0;
    // Shows or hides the control (named apart from QWidget::setVisible on purpose).
    virtual void SetWaitVisible(bool visible) = 0;

private:
    friend class TCustomWSocket;
    std::vector<TCustomWSocket*> users_;  // sockets whose WaitCtrl points here
};
