// The publisher's time and chance, for the program itself; its tests bring their own.
#include <random>
#include <thread>

#include "services/mqtt/PublisherCore.h"

namespace ctl::mqtt {
namespace {

class SystemClock final : public Clock {
public:
    Steady::time_point now() override { return Steady::now(); }
    void sleepFor(Steady::duration duration) override { std::this_thread::sleep_for(duration); }
};

class SystemRandom final : public Random {
public:
    long long between(long long low, long long high) override {
        return std::uniform_int_distribution<long long>(low, high)(m_generator);
    }

private:
    std::mt19937 m_generator{std::random_device{}()};
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::unique_ptr<Random> systemRandom() {
    return std::make_unique<SystemRandom>();
}

}  // namespace ctl::mqtt
