#include "app/gui/message_pump.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <mutex>

#include "platform/msg/message_queue.h"

namespace kiv::gui {
namespace {

const QEvent::Type kPumpEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// Shared with the wake hook, which may run on any thread at any moment: the
// pump is reached only under the lock, and the destructor clears it under
// the same lock, so a late wake never touches a destroyed object.
struct MessagePump::Link {
    std::mutex m;
    MessagePump* pump = nullptr;
    std::atomic<bool> scheduled{false};
};

MessagePump::MessagePump() : link_(std::make_shared<Link>()) {
    link_->pump = this;
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Pump(); });
    std::weak_ptr<Link> weak = link_;
    SetQueueWakeHook([weak] {
        auto link = weak.lock();
        if (!link) return;
        std::lock_guard lock(link->m);
        // One pump event in flight is enough: it takes everything waiting.
        if (link->pump && !link->scheduled.exchange(true))
            QCoreApplication::postEvent(link->pump, new QEvent(kPumpEvent));
    });
    Pump();  // whatever arrived before the hook was set
}

MessagePump::~MessagePump() {
    SetQueueWakeHook({});
    std::lock_guard lock(link_->m);
    link_->pump = nullptr;
}

bool MessagePump::event(QEvent* e) {
    if (e->type() != kPumpEvent) return QObject::event(e);
    Pump();
    return true;
}

void MessagePump::Pump() {
    link_->scheduled = false;
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            QCoreApplication::exit(static_cast<int>(m.wParam));
            break;
        }
        DispatchMessage(&m);
    }
    int due = NextTimerDelayMs();
    if (due < 0)
        timer_.stop();
    else
        timer_.start(due);
}

}  // namespace kiv::gui
