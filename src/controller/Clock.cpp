#include "controller/Clock.h"

#include <chrono>

#include <QCoroTimer>
#include <QTimer>

namespace tessaly {

double SystemClock::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QCoro::Task<> SystemClock::sleep(double seconds)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0)));
    co_await timer;
}

} // namespace tessaly
