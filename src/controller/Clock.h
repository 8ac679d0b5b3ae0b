#pragma once

#include <QCoroTask>

namespace tessaly {

// Time and waits of the controller, injectable so tests can record the waits asked for
// and move time without sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic scale; only differences mean anything.
    virtual double now() const = 0;
    virtual QCoro::Task<> sleep(double seconds) = 0;
};

class SystemClock final : public Clock {
public:
    double now() const override;
    QCoro::Task<> sleep(double seconds) override;
};

} // namespace tessaly
