// Pumps the window thread's message queue from Qt's event loop, so events
// of the components (posted to their helper windows from worker threads)
// arrive on the window thread while Qt runs, nested loops (dialogs, waits)
// included: the queue's wake hook posts a Qt event, and handling it
// dispatches what is waiting.
#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

namespace kiv::gui {

class MessagePump : public QObject {
public:
    // Takes over the calling thread's queue; one per thread.
    MessagePump();
    ~MessagePump() override;
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    // Dispatches everything waiting now (also done on every wake).
    void Pump();

protected:
    bool event(QEvent* e) override;

private:
    struct Link;
    std::shared_ptr<Link> link_;
    // Timers post nothing: the next due one is waited for here.
    QTimer timer_;
};

}  // namespace kiv::gui
