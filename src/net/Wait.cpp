#include "net/Wait.h"

#include "platform/Beep.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>

TCustomWait::TCustomWait(QWidget* AOwner) : QWidget(AOwner), pen_(Qt::black), brush_(Qt::white)
{
    font_ = QFont(QStringLiteral("Courier"), 8);
    font_.setFixedPitch(true);
    font_.setStyleHint(QFont::TypeWriter);
    resize(192, 32);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

TCustomWait::~TCustomWait()
{
    timer_.stop();
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

int TCustomWait::CountOf(const QString& caption)
{
    qsizetype i = 0;
    while (i < caption.size() && (caption[i] == u' ' || caption[i] == u'\t'))
        ++i;
    long long value = 0;
    for (; i < caption.size() && caption[i] >= u'0' && caption[i] <= u'9'; ++i) {
        value = value * 10 + (caption[i].unicode() - u'0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
    }
    return static_cast<int>(value);
}

void TCustomWait::AllowInput(QWidget* widget)
{
    allowed_.removeAll(nullptr);
    if (widget && !allowed_.contains(widget)) allowed_.append(widget);
}

void TCustomWait::SetCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void TCustomWait::Start()
{
    total_ = CountOf(caption_);
    if (total_ == 0) {
        total_ = 15;
        SetCaption(QStringLiteral("15"));
    }
    timer_.start();
    if (OnWaitStart) OnWaitStart(this);
}

void TCustomWait::Stop()
{
    modalResult_ = 1;
    timer_.stop();
    SetCaption(QString::number(total_));
    if (OnWaitStop) OnWaitStop(this);
}

void TCustomWait::RestoreCaption()
{
    SetCaption(QString::number(total_));
}

void TCustomWait::Tick()
{
    const int remaining = CountOf(caption_) - 1;
    if (OnWait) OnWait(this, remaining);
    if (remaining > 0) {
        SetCaption(QString::number(remaining));
    } else {
        timer_.stop();
        modalResult_ = 2;
        SetCaption(QString::number(total_));
        if (OnTimeout) OnTimeout(this);
    }
    update();
}

void TCustomWait::RunWait()
{
    QCoreApplication* app = QCoreApplication::instance();
    // Event filters stack: the filter installed last runs first and removing it brings the
    // previous one back, which is the "keep the previous hook" of a message hook.
    app->installEventFilter(this);
    struct Restore {
        QCoreApplication* app;
        TCustomWait* self;
        QPointer<QWidget> modal;
        ~Restore()
        {
            app->removeEventFilter(self);
            self->modalAtStart_ = modal;
        }
    } restore{app, this, modalAtStart_};
    modalAtStart_ = QApplication::activeModalWidget();
    modalResult_ = 0;
    Start();
    // Each round processes what is pending and then sleeps in the event dispatcher until the next
    // event (a socket notification, a posted event, the countdown tick), instead of spinning on
    // an empty queue and holding a processor core for the whole wait.
    while (Running()) {
        if (OnWaiting) OnWaiting(this);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

bool TCustomWait::eventFilter(QObject* watched, QEvent* event)
{
    bool swallow = false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        swallow = mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton;
        break;
    }
    case QEvent::KeyPress:
    case QEvent::Shortcut:
        // A key that triggers a shortcut arrives as a Shortcut event instead of a KeyPress.
        swallow = true;
        break;
    default:
        break;
    }
    if (swallow) {
        if (auto* w = qobject_cast<QWidget*>(watched)) {
            for (const QPointer<QWidget>& allowed : allowed_)
                if (allowed && allowed->isEnabled() && (w == allowed || allowed->isAncestorOf(w)))
                    swallow = false;
        }
    }
    if (swallow) {
        // A modal window that came up after the wait began is the only window that can take
        // input anyway; its input passes (to the window and to its widgets).
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != modalAtStart_) {
            if (auto* w = qobject_cast<QWidget*>(watched);
                w && (w == modal || modal->isAncestorOf(w)))
                swallow = false;
            if (auto* win = qobject_cast<QWindow*>(watched); win && win == modal->windowHandle())
                swallow = false;
        }
    }
    if (!swallow) return QWidget::eventFilter(watched, event);
    // Accepted, so that the event is not offered to the parents of its receiver.
    event->accept();
    platform::Beep();
    return true;
}

void TCustomWait::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    p.setPen(pen_);
    p.setBrush(brush_);
    p.drawRect(0, 0, w - 1, h - 1);
    const int remaining = CountOf(caption_);
    int bar =
        total_ > 0 ? static_cast<int>(static_cast<long long>(remaining) * (w - 7) / total_) : 0;
    bar = std::clamp(bar, 0, std::max(0, w - 7));
    if (bar > 0 && h - 7 > 0) p.fillRect(3, 3, bar, h - 7, palette().color(QPalette::Highlight));
    p.setFont(font_);
    p.setPen(pen_);
    const QFontMetrics fm(font_);
    p.drawText(4, h / 2 - 8 + fm.ascent(), caption_);
}
